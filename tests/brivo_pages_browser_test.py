#!/usr/bin/env python3
"""The RAID module's pages in a real browser: raidsim with one controller pair of ten drives in an
SES enclosure, the built server (-debug, with the Brivo module) and cgiloader in a temporary
installed tree, driven by headless Chromium over its DevTools pipe (the helpers of
web_browser_test.py).

Opens the start page and waits for the RAID monitor in the page area (the pair claimed, the full
view shown), creates an array through the create-array form (a profile, three drives), creates a
logical drive on it through the logical-drive form, sees both on the monitor page, renames the
array through its page's pop-up (whose OK reloads the array page), fails a member drive in the
simulator and sees the monitor page turn to the error state by its own refresh, and opens the
controller page. Then the pages of firmware and diagnostics (a file that is no image and a drive
image for another model refused, a controller image loaded and shown, the dump as text), the
configuration layout (exported, and refused on a pair whose drives it already uses), the disk
wizard (its proposal built on the unused drives) and snapshots (an internal drive as the area,
enable, take, snapback with its progress until it ends, delete, disable). Every step saves a
screenshot under <build>/brivo_screenshots/.

Usage: brivo_pages_browser_test.py --build BUILD --source SOURCE [--chromium PATH]
Exit codes: 0 passed, 1 failed, 77 skipped (no Chromium, or the programs are not built).
"""

import argparse
import base64
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_browser_test import LOGIN, DevTools, Failure, free_port, make_tree  # noqa: E402

PAIR = "Brivo20000004CF8A1B2C"
SIM_CONFIG = """
[pair alpha]
product = BRIVO R5-2400
wwn = 20000004CF8A1B2C
model = brivo
model.job_seconds = 600
drives = 10
enclosure = bay1
path = A 0:0:0:0
path = B 0:0:1:0

[enclosure bay1]
wwn = 500A0B8000112233
slots = 12
"""
# The monitor page polls every 5 seconds; the monitor reads the controllers' logs every second.
REFRESH_LIMIT = 15


class LoggedInBrowser(DevTools):
    """DevTools that answers the site's login challenges in every window, as a browser does for a
    user who logged in once: the pop-up windows the pages open get no extra headers."""

    def answer_logins(self):
        user, password = LOGIN.split(":", 1)
        self.call("Fetch.enable", {"handleAuthRequests": True, "patterns": [{"urlPattern": "*"}]}, session=None)

        def serve():
            while True:
                message = self.events.get()
                method = message.get("method")
                params = message.get("params", {})
                if method == "Fetch.requestPaused":
                    self._send("Fetch.continueRequest", {"requestId": params["requestId"]}, message.get("sessionId"))
                elif method == "Fetch.authRequired":
                    self._send("Fetch.continueWithAuth", {
                        "requestId": params["requestId"],
                        "authChallengeResponse": {"response": "ProvideCredentials", "username": user,
                                                  "password": password}}, message.get("sessionId"))

        threading.Thread(target=serve, daemon=True).start()


class Walk:
    # What the simulator serves and where the screenshots go; subclasses walk other worlds.
    sim_config = SIM_CONFIG
    shots_folder = "brivo_screenshots"
    window = (1366, 900)

    def __init__(self, args):
        self.args = args
        self.shots = os.path.join(args.build, self.shots_folder)
        shutil.rmtree(self.shots, ignore_errors=True)
        os.makedirs(self.shots)
        self.prefix = tempfile.mkdtemp(prefix="kestrova-brivo-web-")
        self.profile = tempfile.mkdtemp(prefix="kestrova-chromium-")
        self.socket = os.path.join(self.prefix, "sim.sock")
        self.port = free_port()
        self.base = "http://127.0.0.1:%d" % self.port
        self.env = dict(os.environ, KESTROVA_SHM_PREFIX="kestrova-brivo-web-%d." % os.getpid(),
                        KESTROVA_SCSI_SIM=self.socket, KESTROVA_BRIVO_MONITOR_MS="1000",
                        KESTROVA_NET_ADDRESSES="127.0.0.1")
        self.sim = self.server = self.loader = self.browser = None
        self.log = open(os.path.join(self.shots, "server.log"), "wb")

    # ---- Processes -----------------------------------------------------------------------------

    def start(self):
        make_tree(self.args.build, self.args.source, self.prefix)
        shutil.copytree(os.path.join(self.args.build, "mods", "Brivo"), os.path.join(self.prefix, "mods", "Brivo"))
        config = os.path.join(self.prefix, "pairs.conf")
        with open(config, "w") as f:
            f.write(self.sim_config)
        self.sim = subprocess.Popen([os.path.join(self.args.build, "bin", "raidsim"), "--socket", self.socket,
                                     "--config", config], stdin=subprocess.DEVNULL, stdout=self.log,
                                    stderr=subprocess.STDOUT)
        deadline = time.time() + 10
        while self.ctl("list", check=False) != 0:
            if time.time() > deadline:
                raise Failure("raidsim did not start")
            time.sleep(0.2)
        self.server = subprocess.Popen([os.path.join(self.prefix, "server"), "-debug"], cwd=self.prefix, env=self.env,
                                       stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT)
        self.loader = subprocess.Popen(
            [os.path.join(self.prefix, "www", "cgi-bin", "cgiloader"), "--listen", "127.0.0.1:%d" % self.port,
             "--root", self.prefix], env=self.env, stdin=subprocess.DEVNULL, stdout=self.log,
            stderr=subprocess.STDOUT)
        self.wait_for_server()
        self.browser = LoggedInBrowser(self.args.chromium, self.profile)
        self.browser.answer_logins()
        auth = "Basic " + base64.b64encode(LOGIN.encode()).decode()
        self.browser.open_page(self.window[0], self.window[1], {"Authorization": auth})

    def wait_for_server(self, timeout=60):
        """Until the server answers a page through the front end."""
        request = urllib.request.Request(self.base + "/cgi-bin/cgiloader.cgi?module=server&method=SessionPing",
                                         headers={"Authorization": "Basic " + base64.b64encode(LOGIN.encode()).decode()})
        deadline = time.time() + timeout
        while time.time() < deadline:
            try:
                with urllib.request.urlopen(request, timeout=5) as answer:
                    if b'data-marker="session-ping"' in answer.read():
                        return
            except Exception:
                pass
            time.sleep(0.3)
        raise Failure("the server did not answer through cgiloader")

    def ctl(self, command, check=True):
        result = subprocess.run([os.path.join(self.args.build, "bin", "raidsim"), "ctl", self.socket] + command.split(),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if check and result.returncode != 0:
            raise Failure("raidsim ctl %s: %s" % (command, result.stdout.decode(errors="replace")))
        return result.returncode

    def stop(self):
        if self.browser:
            self.browser.close()
        for proc, sig in ((self.loader, signal.SIGTERM), (self.server, signal.SIGINT), (self.sim, signal.SIGTERM)):
            if proc and proc.poll() is None:
                proc.send_signal(sig)
                try:
                    proc.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        self.log.close()
        shutil.rmtree(self.prefix, ignore_errors=True)
        shutil.rmtree(self.profile, ignore_errors=True)

    # ---- Helpers -------------------------------------------------------------------------------

    def shot(self, name, session=None):
        data = self.browser.call("Page.captureScreenshot", {"format": "png"},
                                 session=session if session else "page")["data"]
        with open(os.path.join(self.shots, name + ".png"), "wb") as f:
            f.write(base64.b64decode(data))

    @staticmethod
    def in_main(expression):
        return "(() => { const f = document.getElementById('main'); const d = f && f.contentDocument;" \
               " return !!d && !!d.body && (%s); })()" % expression

    def main_eval(self, expression):
        return self.browser.evaluate("(() => { const d = document.getElementById('main').contentDocument;"
                                     " return %s; })()" % expression)

    def wait_main(self, expression, what, timeout=20):
        self.browser.wait_for(self.in_main("d.readyState === 'complete' && " + expression), what, timeout)

    def click_main(self, selector):
        if not self.main_eval("(() => { const e = d.querySelector(%s); if (e) e.click(); return !!e; })()"
                              % json.dumps(selector)):
            raise Failure("nothing to click at " + selector)

    # ---- Steps ---------------------------------------------------------------------------------

    def monitor(self):
        self.browser.navigate(self.base + "/")
        # The page area opens the module's entry page, which hands over to the overview of every
        # pair; that shows the pair read in full once this server has claimed it (the page reloads
        # itself). Its card leads to the monitor page.
        self.wait_main("d.body.dataset.page === 'brivo-overview' && d.querySelector('.pair-card table.facts') !== null",
                       "the overview with the pair read in full", timeout=60)
        self.shot("00_overview")
        self.click_main(".pair-card a.button[href*=GetMonitor]")
        self.wait_main("d.body.dataset.page === 'brivo-monitor' && d.getElementById('arrays') !== null",
                       "the RAID monitor in full", timeout=60)
        tabs = self.main_eval("d.querySelectorAll('.module-tab').length")
        if tabs < 1:
            raise Failure("the monitor shows no module tabs")
        status = self.main_eval("d.getElementById('solution-status').className")
        if "ok" not in status.split():
            raise Failure("a healthy pair shows status %r" % status)
        for image in ("/Brivo/images/status_ok.gif", "/Brivo/images/controllers2_ok.gif", "/Brivo/images/loop_ok.gif"):
            kind = self.browser.evaluate("fetch(%s).then(r => r.ok ? r.headers.get('Content-Type') : 'status ' + r.status)"
                                         % json.dumps(image))
            if kind != "image/gif":
                raise Failure("%s answered %s" % (image, kind))
        self.shot("01_monitor")

    def create_array(self):
        self.click_main("#create-array-link")
        self.wait_main("d.body.dataset.page === 'brivo-create-array' && d.getElementById('create-form') !== null",
                       "the create-array page")
        self.main_eval("(() => { const p = d.getElementById('profile'); p.value = '0';"
                       " p.dispatchEvent(new Event('change', {bubbles: true}));"
                       " d.getElementById('ArrayName').value = 'web-array';"
                       " const boxes = d.querySelectorAll('input[data-drive]');"
                       " for (let i = 0; i < 3; ++i) { boxes[i].checked = true;"
                       "   boxes[i].dispatchEvent(new Event('change', {bubbles: true})); }"
                       " d.querySelector('input[name=Initialize][type=checkbox]').checked = false; return true; })()")
        level = self.main_eval("d.getElementById('RaidLevel').value")
        count = self.main_eval("d.getElementById('selected-count').textContent")
        if level != "5" or count != "3":
            raise Failure("the form shows level %r with %r drives" % (level, count))
        self.shot("02_create_array_form")
        self.click_main("#create-button")
        self.wait_main("d.getElementById('result') !== null", "the creation result")
        text = self.main_eval("d.querySelector('#result strong').textContent")
        if "completed successfully" not in text:
            raise Failure("creating the array said %r: %s" % (text, self.main_eval("d.querySelector('#result p').textContent")))
        self.shot("03_array_created")

    def create_logical_drive(self):
        self.click_main("a.button[href*=GetMonitor]")
        self.wait_main("d.body.dataset.page === 'brivo-monitor' && d.querySelector('#arrays tbody tr') !== null",
                       "the array on the monitor page")
        name = self.main_eval("d.querySelector('#arrays tbody tr td:nth-child(2)').textContent")
        if name != "web-array":
            raise Failure("the monitor lists the array as %r" % name)
        self.shot("04_monitor_with_array")
        self.click_main("#create-lun-link")
        self.wait_main("d.body.dataset.page === 'brivo-lun-create' && d.getElementById('region-form') !== null",
                       "the logical-drive form")
        self.main_eval("(() => { const box = d.querySelector('#region-form input[type=checkbox][name^=RegionNumber]');"
                       " box.checked = true; box.dispatchEvent(new Event('change', {bubbles: true}));"
                       " d.getElementById('Capacity').value = '100'; d.getElementById('HostLunName').value = 'web-lun';"
                       " return true; })()")
        self.shot("05_logical_drive_form")
        self.click_main("#region-form button[type=submit]")
        self.wait_main("d.querySelector('.notice strong') !== null", "the logical drive's result")
        text = self.main_eval("d.querySelector('.notice strong').textContent")
        if "completed successfully" not in text:
            raise Failure("creating the logical drive said %r" % text)
        self.click_main("a.button[href*=GetMonitor]")
        self.wait_main("d.body.dataset.page === 'brivo-monitor' && d.querySelector('#logical-drives tbody tr') !== null",
                       "the logical drive on the monitor page")
        self.shot("06_monitor_with_logical_drive")

    def popup_target(self, part, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            for info in self.browser.call("Target.getTargets", session=None)["targetInfos"]:
                if info["type"] == "page" and part in info["url"]:
                    return info["targetId"]
            time.sleep(0.2)
        raise Failure("no pop-up window for " + part)

    def rename_array(self):
        self.click_main("#arrays tbody tr a")
        self.wait_main("d.body.dataset.page === 'brivo-rank'", "the array page")
        self.shot("07_array_page")
        # A click the browser takes for the user's own, so that it may open the pop-up window.
        self.browser.call("Runtime.evaluate", {
            "expression": "(() => { const d = document.getElementById('main').contentDocument;"
                          " d.getElementById('change-name').value = 'renamed';"
                          " d.querySelector('#change-form button[type=submit]').click(); return true; })()",
            "userGesture": True, "returnByValue": True})
        target = self.popup_target("ChangeRankParameters")
        session = self.browser.call("Target.attachToTarget", {"targetId": target, "flatten": True},
                                    session=None)["sessionId"]
        self.browser.call("Runtime.enable", {}, session=session)
        deadline = time.time() + 20
        summary = None
        while time.time() < deadline and summary is None:
            result = self.browser.call("Runtime.evaluate", {
                "expression": "document.querySelector('.notice strong') && document.querySelector('.notice strong').textContent",
                "returnByValue": True}, session=session)
            summary = result.get("result", {}).get("value")
            time.sleep(0.2)
        if not summary or "completed successfully" not in summary:
            page = self.browser.call("Runtime.evaluate", {"expression": "location.href + ' ' + document.documentElement.outerHTML",
                                                          "returnByValue": True}, session=session)
            raise Failure("the pop-up said %r: %s" % (summary, json.dumps(page)[:1500]))
        self.shot("08_message_popup", session=session)
        self.browser.call("Runtime.evaluate", {"expression": "document.getElementById('popup-ok').click()"},
                          session=session)
        # OK reloads the array page that opened the pop-up.
        self.wait_main("d.body.dataset.page === 'brivo-rank' && d.querySelector('h1').textContent.includes('renamed')",
                       "the array page after the change")

    def drive_failure(self):
        self.click_main("a.button[href*=GetMonitor]")
        self.wait_main("d.body.dataset.page === 'brivo-monitor' && d.getElementById('arrays') !== null",
                       "the monitor page")
        self.main_eval("(() => { d.body.dataset.marker = 'before-failure'; return true; })()")
        self.ctl("fail drive alpha 1")
        started = time.time()
        # The page's own poll must reload it (a new page has no marker) and show the error.
        self.wait_main("d.body.dataset.marker !== 'before-failure' && d.getElementById('solution-status') !== null"
                       " && d.getElementById('solution-status').classList.contains('fail')",
                       "the monitor page in the error state", timeout=REFRESH_LIMIT)
        print("error state shown %.1f s after the failure" % (time.time() - started), flush=True)
        problems = self.main_eval("d.querySelectorAll('#problems li').length")
        if problems < 1:
            raise Failure("the error state lists no problem")
        failed_slots = self.main_eval("d.querySelectorAll('.slot.fail').length")
        if failed_slots < 1:
            raise Failure("no enclosure slot shows the failed drive")
        self.shot("09_monitor_drive_failed")

    def controller_page(self):
        self.click_main("a.button[href*=GetControllerInformation]")
        self.wait_main("d.body.dataset.page === 'brivo-controller' && d.getElementById('controller-A') !== null",
                       "the controller page")
        self.shot("10_controller_page")

    # ---- The pages of firmware, diagnostics, layouts, the wizard and snapshots ----------------

    def upload_into(self, selector, name, size, level, product=None):
        """Puts a firmware image (or, with size 0, a text file) into the file input of a form."""
        self.main_eval("(() => { const form = d.querySelector(%s);"
                       " const n = %d; const buffer = new ArrayBuffer(Math.max(n, 16)); const v = new DataView(buffer);"
                       " if (n > 0) { v.setUint32(0, n, true); 'BFW1'.split('').forEach((c, i) => v.setUint8(4 + i, c.charCodeAt(0)));"
                       "   v.setUint8(8, 2); v.setUint32(12, %d, true);"
                       "   const product = %s; if (product !== null) { for (let i = 16; i < 40; ++i) v.setUint8(i, 32);"
                       "     product.split('').forEach((c, i) => v.setUint8(24 + i, c.charCodeAt(0))); } }"
                       " const bytes = n > 0 ? [buffer] : ['not an image'];"
                       " const t = new DataTransfer(); t.items.add(new File(bytes, %s));"
                       " form.querySelector('input[type=file]').files = t.files; return true; })()"
                       % (json.dumps(selector), size, level, json.dumps(product), json.dumps(name)))

    def notice_in(self, box, what, timeout=30):
        self.wait_main("!d.getElementById(%s).hidden" % json.dumps(box), what, timeout)
        return self.main_eval("d.querySelector('#%s strong').textContent + ' / ' + d.querySelector('#%s p').textContent"
                              % (box, box))

    def firmware(self):
        # The controller page is open (controller_page).
        for form, name in (("#flash-controller-form", "controller.bin"), ("#drive-firmware-form", "drive.bin")):
            self.upload_into(form, name, 0, 0)
            self.main_eval("(() => { d.getElementById('firmware-result').hidden = true;"
                           " d.querySelector('%s button[type=submit]').click(); return true; })()" % form)
            text = self.notice_in("firmware-result", "the refusal of a file that is no image")
            if "not a firmware image" not in text:
                raise Failure("a text file as firmware said %r" % text)
        self.upload_into("#flash-controller-form", "controller.bin", 70000, 0x04020003)
        self.main_eval("(() => { d.getElementById('firmware-result').hidden = true;"
                       " d.querySelector('#flash-controller-form button[type=submit]').click(); return true; })()")
        text = self.notice_in("firmware-result", "the controller firmware result", timeout=60)
        if "completed successfully" not in text:
            raise Failure("the controller firmware upload said %r" % text)
        self.shot("11_controller_firmware_loaded")
        self.wait_main("d.body.dataset.page === 'brivo-controller' && d.getElementById('controller-A') !== null"
                       " && d.getElementById('controller-A').textContent.includes('4.2')",
                       "the controller page with the new firmware level", timeout=30)
        self.upload_into("#drive-firmware-form", "drive.bin", 4096, 0x0303, "OTHERDISK")
        self.main_eval("(() => { d.getElementById('firmware-result').hidden = true;"
                       " d.querySelector('#drive-firmware-form button[type=submit]').click(); return true; })()")
        text = self.notice_in("firmware-result", "the refusal of another drive model")
        if "No good drive of the model" not in text:
            raise Failure("a drive image for another model said %r" % text)
        dump = self.main_eval("fetch(d.getElementById('diagnostics-form').action, {method: 'POST',"
                              " body: new FormData(d.getElementById('diagnostics-form')), credentials: 'same-origin'})"
                              ".then(r => r.headers.get('Content-Type') + '|' + r.status)")
        if not dump.startswith("text/plain") or not dump.endswith("|200"):
            raise Failure("the diagnostics dump answered %r" % dump)
        self.shot("12_controller_page_after_firmware")

    def open_monitor(self):
        # The start page opens the overview of every pair; its card leads to the monitor.
        self.browser.navigate(self.base + "/")
        self.wait_main("d.body.dataset.page === 'brivo-overview' && d.querySelector('.pair-card a.button[href*=GetMonitor]') !== null",
                       "the overview")
        self.click_main(".pair-card a.button[href*=GetMonitor]")
        self.wait_main("d.body.dataset.page === 'brivo-monitor' && d.getElementById('arrays') !== null", "the monitor")

    def layout(self):
        self.open_monitor()
        self.browser.evaluate("document.getElementById('main').src = '/cgi-bin/cgiloader.cgi?module=Brivo&method="
                              "GetControllerParams&ModDeviceName=%s'" % PAIR)
        self.wait_main("d.getElementById('apply-layout-form') !== null", "the controller parameters page")
        text = self.main_eval("fetch(d.getElementById('export-layout').href, {credentials: 'same-origin'}).then(r => r.text())")
        if "LayoutVersion = 1" not in text or "Array0 = level=5" not in text:
            raise Failure("the exported layout reads %r" % text[:400])
        self.main_eval("(() => { const t = new DataTransfer(); t.items.add(new File([%s], 'layout.txt'));"
                       " d.querySelector('#apply-layout-form input[type=file]').files = t.files;"
                       " d.querySelector('#apply-layout-form button[type=submit]').click(); return true; })()"
                       % json.dumps(text))
        answer = self.notice_in("action-result", "the answer to applying a layout onto drives in use")
        if "already used" not in answer:
            raise Failure("applying a layout onto its own drives said %r" % answer)
        self.shot("13_layout_refused")

    def wizard(self):
        self.open_monitor()
        self.wait_main("d.body.dataset.page === 'brivo-monitor' && d.getElementById('wizard-button') !== null",
                       "the monitor with the wizard button")
        arrays_before = self.main_eval("d.querySelectorAll('#arrays tbody tr').length")
        self.click_main("#wizard-button")
        self.wait_main("d.body.dataset.page === 'brivo-wizard' && d.querySelector('.wizard-array') !== null",
                       "the wizard's proposal")
        self.shot("14_wizard_proposal")
        self.main_eval("(() => { d.querySelector('input[name=Array0Name]').value = 'wizard-array';"
                       " d.querySelector('input[name=Array0LdName]').value = 'wizard-lun'; return true; })()")
        self.click_main("#wizard-submit")
        answer = self.notice_in("action-result", "the wizard's result", timeout=60)
        if "completed successfully" not in answer:
            raise Failure("the wizard said %r" % answer)
        self.wait_main("d.body.dataset.page === 'brivo-monitor' && d.querySelectorAll('#arrays tbody tr').length > %d"
                       % arrays_before, "the monitor with the wizard's array", timeout=30)
        self.shot("15_monitor_after_wizard")

    def snapshots(self):
        # An internal logical drive to serve as the snapshot area, on the wizard's array.
        self.click_main("#create-lun-link")
        self.wait_main("d.body.dataset.page === 'brivo-lun-create' && d.getElementById('region-form') !== null",
                       "the logical-drive form")
        self.main_eval("(() => { const box = d.querySelector('#region-form input[type=checkbox][name^=RegionNumber]');"
                       " box.checked = true; box.dispatchEvent(new Event('change', {bubbles: true}));"
                       " const internal = d.querySelector('#region-form input[name=CreateInternalLd]');"
                       " internal.checked = true; internal.dispatchEvent(new Event('change', {bubbles: true}));"
                       " d.getElementById('Capacity').value = '20'; d.getElementById('HostLunName').value = 'area';"
                       " return true; })()")
        self.click_main("#region-form button[type=submit]")
        self.wait_main("d.querySelector('.notice strong') !== null", "the internal drive's result")
        self.click_main("a.button[href*=GetMonitor]")
        self.wait_main("d.body.dataset.page === 'brivo-monitor' && d.getElementById('snapshots-link') !== null",
                       "the monitor")
        self.click_main("#snapshots-link")
        self.wait_main("d.body.dataset.page === 'brivo-snapshots' && d.querySelector('form.enable-snapshots') !== null",
                       "the snapshot page with a drive to enable")
        self.shot("16_snapshots")
        self.click_main("form.enable-snapshots button[type=submit]")
        self.wait_main("d.body.dataset.page === 'brivo-snapshots' && d.querySelector('button.take-snapshot') !== null",
                       "snapshots enabled", timeout=30)
        self.click_main("button.take-snapshot")
        self.wait_main("d.querySelector('button.snapback') !== null", "a snapshot taken", timeout=30)
        self.click_main("button.snapback")
        self.wait_main("d.getElementById('snapback-running') !== null && d.querySelector('.snapback .progress em')"
                       " !== null && d.querySelector('.snapback .progress em').textContent.endsWith('%')",
                       "the snapback in progress", timeout=30)
        self.shot("17_snapback_running")
        self.ctl("model alpha advance 700")
        self.wait_main("d.getElementById('snapback-running') === null && d.querySelector('button.delete-snapshot') !== null",
                       "the snapback finished (the page refreshes itself)", timeout=30)
        self.click_main("button.delete-snapshot")
        self.wait_main("d.querySelector('button.snapback') === null && d.querySelector('button.disable-snapshots') !== null",
                       "the snapshot deleted", timeout=30)
        self.click_main("button.disable-snapshots")
        self.wait_main("d.querySelector('form.enable-snapshots') !== null", "snapshots disabled", timeout=30)
        self.shot("18_snapshots_disabled")


def run_walk(walk_class, steps_of, programs=("bin/server", "bin/cgiloader", "bin/raidsim", "mods/Brivo/Brivo.so")):
    """The command line of a walk: its arguments, the skip when Chromium or a program is missing,
    the steps (steps_of(walk) lists them) with a screenshot of a failure, and the exit code."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--chromium", default=shutil.which("chromium") or shutil.which("chromium-browser"))
    args = parser.parse_args()
    if not args.chromium or not os.path.exists(args.chromium):
        print("skipped: no Chromium")
        return 77
    for program in programs:
        if not os.path.exists(os.path.join(args.build, program)):
            print("skipped: %s is not built" % program)
            return 77
    walk = walk_class(args)
    try:
        walk.start()
        for step in steps_of(walk):
            print("step:", step.__name__, flush=True)
            step()
    except Failure as failure:
        print("FAILED:", failure, flush=True)
        try:
            walk.shot("failure")
        except Exception:
            pass
        return 1
    finally:
        walk.stop()
    print("passed; screenshots in", walk.shots)
    return 0


def main():
    return run_walk(Walk, lambda walk: [walk.monitor, walk.create_array, walk.create_logical_drive, walk.rename_array,
                                        walk.drive_failure, walk.controller_page, walk.firmware, walk.layout,
                                        walk.wizard, walk.snapshots])


if __name__ == "__main__":
    sys.exit(main())
