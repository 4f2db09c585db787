#!/usr/bin/env python3
"""One name for each thing, in a real browser: raidsim with one controller pair whose drives start
at slot 2 of its SES enclosure (so that a drive's ID, its place in qcli's list and its slot differ
where they can), the built server, cgiloader and qcli, driven by headless Chromium (the helpers
of brivo_pages_browser_test.py).

Fails drive 3, fan 2 and power supply 1 in the simulator, then reads the event log page, the
monitor, drive and enclosure pages, the overview and qcli's displays, and checks that they name
the same slot, drive ID, enclosure and pair: the log's "Drive ID 3 in slot 5" is the monitor's
failed slot 5 with ID 3 and the drive qcli shows as -di 3 with Slot 5; the log's enclosure
"Enclosure 1 (WWN)" is the page's Enclosure 1 and qcli's enclosure 0; the log's element texts are
the enclosure page's. Then silences the alarm and identifies a slot from the enclosure page and
sees both in the simulator. Screenshots go to <build>/identity_screenshots/.

Usage: identity_browser_test.py --build BUILD --source SOURCE [--chromium PATH]
Exit codes: 0 passed, 1 failed, 77 skipped (no Chromium, or the programs are not built).
"""

import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from brivo_pages_browser_test import Walk, run_walk  # noqa: E402
from web_browser_test import LOGIN, Failure  # noqa: E402

PAIR_WWN = "20000004CF8A1B2C"
ENCLOSURE_WWN = "500A0B8000112233"
FAILED_DRIVE = 3  # drive ID 3, the fourth in the list, in slot 5
FIRST_SLOT = 2
SIM_CONFIG = """
[pair alpha]
product = BRIVO R5-2400
wwn = %s
model = brivo
drives = 8
first_slot = %d
enclosure = bay1
path = A 0:0:0:0
path = B 0:0:1:0
model.array.0 = raid=5 drives=0-4 name=finance

[enclosure bay1]
wwn = %s
slots = 12
fans = 3
power_supplies = 2
""" % (PAIR_WWN, FIRST_SLOT, ENCLOSURE_WWN)
# The monitor polls every second here; a page polls every 5 seconds.
EVENT_LIMIT = 30


class IdentityWalk(Walk):
    sim_config = SIM_CONFIG
    shots_folder = "identity_screenshots"

    def qcli(self, *words):
        """qcli's output for one command to the pair, chosen by its WWN from a configuration file."""
        user, password = LOGIN.split(":", 1)
        config = os.path.join(self.prefix, "qcliConfig.db")
        with open(config, "w") as f:
            f.write("DefaultIp=127.0.0.1\nDefaultPort=%d\nDefaultUser=%s\nDefaultPassword=%s\n"
                    "Device1Name=alpha\nDevice1Wwn=%s\n" % (self.port, user, password, PAIR_WWN))
        command = [os.path.join(self.args.build, "bin", "qcli"), "--cfgfile", config, "--wwn", PAIR_WWN] + list(words)
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        text = result.stdout.decode(errors="replace")
        if result.returncode != 0:
            raise Failure("qcli %s ended with %d:\n%s" % (" ".join(words), result.returncode, text))
        return text

    def sim_status(self):
        result = subprocess.run([os.path.join(self.args.build, "bin", "raidsim"), "ctl", self.socket, "status"],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        return result.stdout.decode(errors="replace")

    def open_main(self, method, extra="", marker=None, what=None):
        self.browser.evaluate("document.getElementById('main').src = %r" %
                              ("/cgi-bin/cgiloader.cgi?module=%s&method=%s%s" %
                               ("server" if method == "ViewLogs" else "Brivo", method, extra)))
        if marker:
            self.wait_main("d.body.dataset.page === %r" % marker, what or method)

    def main_texts(self, selector):
        return self.main_eval("[...d.querySelectorAll(%r)].map(e => e.textContent.replace(/\\s+/g, ' ').trim())"
                              % selector)

    # ---- Steps ---------------------------------------------------------------------------------

    def fail_three_things(self):
        self.monitor()
        self.ctl("fail drive alpha %d" % FAILED_DRIVE)
        self.ctl("fail fan bay1 1")
        self.ctl("fail psu bay1 0")

    def event_log(self):
        """The log's lines about the failures: the drive's ID and slot, the enclosure's name and
        the element texts."""
        deadline = time.time() + EVENT_LIMIT
        rows = []
        while time.time() < deadline:
            self.open_main("ViewLogs", "&numberToDisplay=200", "event-log", "the event log")
            rows = self.main_eval("[...d.querySelectorAll('#log-rows tr')].map(r => [...r.cells].map("
                                  "c => c.textContent.replace(/\\s+/g, ' ').trim()))")
            messages = " | ".join(r[5] for r in rows if len(r) > 5)
            if "Power supply 1" in messages and "Cooling fan 2" in messages and \
                    ("rive ID %d in slot %d" % (FAILED_DRIVE, FAILED_DRIVE + FIRST_SLOT)) in messages:
                break
            time.sleep(1)
        else:
            raise Failure("the event log lacks the three failures: %r" % rows[:20])
        self.log_rows = rows
        drive = [r for r in rows if "rive ID %d in slot %d" % (FAILED_DRIVE, FAILED_DRIVE + FIRST_SLOT) in r[5]]
        if not any(r[4].startswith("Brivo %s" % PAIR_WWN) for r in drive):
            raise Failure("the drive's event comes from %r" % [r[4] for r in drive])
        supply = [r for r in rows if "Power supply 1" in r[5]]
        self.enclosure_source = supply[0][4]
        if not self.enclosure_source.startswith("Enclosure 1 (%s)" % ENCLOSURE_WWN):
            raise Failure("the enclosure's events come from %r" % self.enclosure_source)
        self.supply_text = re.sub(r"^\(Event ID: 0x ?[0-9A-F]+\) ", "", supply[-1][5])
        self.fan_text = re.sub(r"^\(Event ID: 0x ?[0-9A-F]+\) ", "",
                               [r for r in rows if "Cooling fan 2" in r[5]][-1][5])
        # The page names the pair beside its WWN (the device cells get its name).
        self.wait_main("[...d.querySelectorAll('#log-rows td.device .pair-name')].some(e => e.textContent.trim() === 'alpha')",
                       "the pair's name in the log")
        time.sleep(0.5)  # let the frame paint the rows it was given
        self.shot("01_event_log")

    def monitor_page(self):
        slot = FAILED_DRIVE + FIRST_SLOT
        self.open_main("GetMonitor", "&StorageSolution=1")
        self.wait_main("d.body.dataset.page === 'brivo-monitor' && d.querySelector('.slot.fail[data-slot=\"%d\"]') !== null"
                       % slot, "slot %d failed on the monitor" % slot, timeout=EVENT_LIMIT)
        cell = self.main_eval("d.querySelector('.slot[data-slot=\"%d\"]').dataset.driveId" % slot)
        if cell != str(FAILED_DRIVE):
            raise Failure("the monitor's slot %d holds drive ID %r" % (slot, cell))
        healthy = self.main_eval("d.querySelector('.slot[data-slot=\"%d\"]').className" % FAILED_DRIVE)
        if "fail" in healthy.split():
            raise Failure("slot %d (drive ID %d's number) is marked failed too" % (FAILED_DRIVE, FAILED_DRIVE))
        heading = self.main_texts("#enclosures h3")[0]
        if not heading.startswith("Enclosure 1") or "qcli -ei 0" not in heading:
            raise Failure("the monitor names the enclosure %r" % heading)
        problems = " | ".join(self.main_texts("#problems li"))
        for expected in ("drive ID %d in slot %d of Enclosure 1" % (FAILED_DRIVE, slot), self.enclosure_source):
            if expected not in problems:
                raise Failure("the monitor's findings lack %r: %s" % (expected, problems))
        if self.supply_text not in problems:
            raise Failure("the monitor words the power supply otherwise than the log (%r): %s"
                          % (self.supply_text, problems))
        menu = " ".join(self.main_texts(".module-menu .menu-pair"))
        if "alpha" not in menu or PAIR_WWN not in menu:
            raise Failure("the menu names the pair %r" % menu)
        self.shot("02_monitor")

    def drive_page(self):
        self.click_main(".slot[data-slot=\"%d\"]" % (FAILED_DRIVE + FIRST_SLOT))
        self.wait_main("d.body.dataset.page === 'brivo-drives' && d.querySelector('h1') !== null", "the drive page")
        title = self.main_eval("d.querySelector('h1').textContent")
        expected = "Drive ID %d, slot %d of Enclosure 1" % (FAILED_DRIVE, FAILED_DRIVE + FIRST_SLOT)
        if title.strip() != expected:
            raise Failure("the drive page is titled %r, not %r" % (title, expected))
        qcli_row = " ".join(self.main_texts(".facts tr"))
        if "drive display -di %d" % FAILED_DRIVE not in qcli_row or "enclosure display -ei 0" not in qcli_row:
            raise Failure("the drive page gives qcli's numbers as %r" % qcli_row)
        self.shot("03_drive_page")

    def qcli_displays(self):
        drive = self.qcli("drive", "display", "-di", str(FAILED_DRIVE))
        for line in ("Drive ID : %d" % FAILED_DRIVE, "Slot : %d" % (FAILED_DRIVE + FIRST_SLOT), "Enclosure : 0",
                     "Status : Failed"):
            if not re.search(r"\b" + re.escape(line) + r"\b", re.sub(r" +", " ", drive)):
                raise Failure("qcli's drive %d lacks %r:\n%s" % (FAILED_DRIVE, line, drive))
        enclosure = re.sub(r" +", " ", self.qcli("enclosure", "display", "-ei", "0"))
        if "Power Supplies : 1 Critical" not in enclosure or "2 Critical" not in enclosure:
            raise Failure("qcli's enclosure 0 does not show the failed elements:\n%s" % enclosure)
        if ENCLOSURE_WWN not in enclosure:
            raise Failure("qcli's enclosure 0 is not the log's enclosure:\n%s" % enclosure)

    def enclosure_page(self):
        self.open_main("GetEnclosureInformation", "&ModDeviceName=Brivo%s" % PAIR_WWN, "brivo-enclosure")
        identity = self.main_eval("d.getElementById('enclosure-identity').textContent")
        if self.enclosure_source not in identity or "-ei 0" not in identity:
            raise Failure("the enclosure page names it %r, the log %r" % (identity, self.enclosure_source))
        texts = self.main_texts("#elements .element-text")
        for expected in (self.supply_text, self.fan_text):
            if expected not in texts:
                raise Failure("the enclosure page lacks the log's %r: %r" % (expected, texts))
        row = self.main_texts("#slots tr[data-slot=\"%d\"] td" % (FAILED_DRIVE + FIRST_SLOT))
        if "Drive ID %d" % FAILED_DRIVE not in row[2] or "qcli -di %d" % FAILED_DRIVE not in row[2]:
            raise Failure("the enclosure page's slot %d shows %r" % (FAILED_DRIVE + FIRST_SLOT, row))
        self.shot("04_enclosure_page")

    def enclosure_actions(self):
        if "alarm muted" in self.sim_status():
            raise Failure("the alarm was muted before the page muted it")
        self.click_main("#silence-alarm")
        self.wait_for_sim("alarm muted", "the muted alarm")
        self.wait_main("d.querySelector('#alarm [data-state]') && d.querySelector('#alarm [data-state]').dataset.state === 'OffMuted'",
                       "the page showing the alarm muted")
        slot = 7  # an empty slot: identify works on every slot
        self.click_main("#slots tr[data-slot=\"%d\"] button.identify-slot" % slot)
        self.wait_for_sim("slots locating %d" % slot, "slot %d's locator" % slot)
        self.wait_main("d.querySelector('#slots tr[data-slot=\"%d\"] .badge.warn') !== null" % slot,
                       "the page showing slot %d blinking" % slot)
        self.shot("05_enclosure_actions")

    def wait_for_sim(self, text, what, timeout=20):
        deadline = time.time() + timeout
        status = ""
        while time.time() < deadline:
            status = self.sim_status()
            if text in status:
                return
            time.sleep(0.3)
        raise Failure("the simulator does not show %s: %s" % (what, status))

    def overview(self):
        self.open_main("GetOverview", "", "brivo-overview")
        causes = " | ".join(self.main_texts("#global-cause li"))
        if "alpha" not in causes or PAIR_WWN not in causes:
            raise Failure("the global status is not explained by the pair: %r" % causes)
        self.shot("06_overview")


def main():
    return run_walk(IdentityWalk,
                    lambda walk: [walk.fail_three_things, walk.event_log, walk.monitor_page, walk.drive_page,
                                  walk.qcli_displays, walk.enclosure_page, walk.enclosure_actions, walk.overview],
                    ("bin/server", "bin/cgiloader", "bin/raidsim", "bin/qcli", "mods/Brivo/Brivo.so"))


if __name__ == "__main__":
    sys.exit(main())
