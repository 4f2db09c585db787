#!/usr/bin/env python3
"""Cross-site request forgery in a real browser: raidsim with the demo's pair alpha (three logical
drives), the built server (-debug, with the Brivo module) and cgiloader in a temporary installed
tree, driven by headless Chromium over its DevTools pipe (the helpers of web_browser_test.py).

The browser logs in to the front end, then opens a page of another origin (another port on
127.0.0.1) that tries three operations, each as an <img> GET, an auto-submitted form POST and a
fetch POST with credentials: delete a logical drive, change the syslog settings (with the right
edit counter), change the password. Nothing may change (checked through the simulator's state and
the settings and password files), every attempt is answered 403 (cgiloader --verbose) and the
refusal is in the event log. Then the same three operations through the product's own pages work.

Usage: csrf_browser_test.py --build BUILD --source SOURCE [--chromium PATH]
Exit codes: 0 passed, 1 failed, 77 skipped (no Chromium, or the programs are not built).
"""

import argparse
import base64
import http.server
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from brivo_pages_browser_test import LoggedInBrowser  # noqa: E402
from web_browser_test import LOGIN, Failure, free_port, make_tree  # noqa: E402

PAIR = "Brivo20000004CF8A1B2C"
SIM_CONFIG = """
[pair alpha]
product = BRIVO R5-2400
wwn = 20000004CF8A1B2C
model = brivo
drives = 12
enclosure = bay1
path = A 0:0:0:0
path = B 0:0:1:0
model.array.0 = raid=5 drives=0-5 name=finance
model.logical.0 = array=0 size=1000 name=ledger lun=0
model.logical.1 = array=0 size=1000 name=archive lun=1
model.logical.2 = array=0 size=rest name=scratch lun=2

[enclosure bay1]
wwn = 500A0B8000112233
slots = 12
"""

ATTACK_PAGE = """<!DOCTYPE html>
<html><head><title>cute kittens</title></head><body>
<p>Nothing to see here.</p>
{images}
{frames}
<script>
const target = {target};
const operations = {operations};
for (const form of document.querySelectorAll("form")) form.submit();
const tries = operations.map((fields) => fetch(target, {{
  method: "POST", mode: "no-cors", credentials: "include", body: new URLSearchParams(fields),
}}).catch(() => null));
Promise.allSettled(tries).then(() => setTimeout(() => {{ document.title = "done"; }}, 4000));
</script>
</body></html>
"""


class Run:
    def __init__(self, args):
        self.args = args
        self.shots = os.path.join(args.build, "csrf_screenshots")
        shutil.rmtree(self.shots, ignore_errors=True)
        os.makedirs(self.shots)
        self.prefix = tempfile.mkdtemp(prefix="kestrova-csrf-")
        self.profile = tempfile.mkdtemp(prefix="kestrova-chromium-")
        self.socket = os.path.join(self.prefix, "sim.sock")
        self.port = free_port()
        self.base = "http://127.0.0.1:%d" % self.port
        self.env = dict(os.environ, KESTROVA_SHM_PREFIX="kestrova-csrf-%d." % os.getpid(),
                        KESTROVA_SCSI_SIM=self.socket, KESTROVA_BRIVO_MONITOR_MS="1000",
                        KESTROVA_NET_ADDRESSES="127.0.0.1")
        self.sim = self.server = self.loader = self.browser = self.attacker = None
        self.log = open(os.path.join(self.shots, "server.log"), "wb")
        self.loader_log_path = os.path.join(self.shots, "cgiloader.log")
        self.loader_log = open(self.loader_log_path, "wb")

    # ---- Processes -----------------------------------------------------------------------------

    def start(self):
        make_tree(self.args.build, self.args.source, self.prefix)
        shutil.copytree(os.path.join(self.args.build, "mods", "Brivo"), os.path.join(self.prefix, "mods", "Brivo"))
        config = os.path.join(self.prefix, "pairs.conf")
        with open(config, "w") as f:
            f.write(SIM_CONFIG)
        self.sim = subprocess.Popen([os.path.join(self.args.build, "bin", "raidsim"), "--socket", self.socket,
                                     "--config", config], stdin=subprocess.DEVNULL, stdout=self.log,
                                    stderr=subprocess.STDOUT)
        deadline = time.time() + 10
        while self.ctl(["list"]) is None:
            if time.time() > deadline:
                raise Failure("raidsim did not start")
            time.sleep(0.2)
        self.server = subprocess.Popen([os.path.join(self.prefix, "server"), "-debug"], cwd=self.prefix, env=self.env,
                                       stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT)
        self.loader = subprocess.Popen(
            [os.path.join(self.prefix, "www", "cgi-bin", "cgiloader"), "--listen", "127.0.0.1:%d" % self.port,
             "--root", self.prefix, "--verbose"], env=self.env, stdin=subprocess.DEVNULL, stdout=self.loader_log,
            stderr=subprocess.STDOUT)
        self.wait_for_server()
        self.browser = LoggedInBrowser(self.args.chromium, self.profile)
        self.browser.answer_logins()
        auth = "Basic " + base64.b64encode(LOGIN.encode()).decode()
        self.browser.open_page(1280, 900, {"Authorization": auth})

    def request(self, method, query=""):
        url = "%s/cgi-bin/cgiloader.cgi?module=server&method=%s%s" % (self.base, method, query)
        request = urllib.request.Request(url, headers={"Authorization": "Basic " + base64.b64encode(LOGIN.encode()).decode()})
        with urllib.request.urlopen(request, timeout=10) as answer:
            return answer.read()

    def wait_for_server(self, timeout=60):
        deadline = time.time() + timeout
        while time.time() < deadline:
            try:
                if b'data-marker="session-ping"' in self.request("SessionPing"):
                    return
            except Exception:
                pass
            time.sleep(0.3)
        raise Failure("the server did not answer through cgiloader")

    def ctl(self, command):
        result = subprocess.run([os.path.join(self.args.build, "bin", "raidsim"), "ctl", self.socket] + command,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        return result.stdout.decode(errors="replace") if result.returncode == 0 else None

    def stop(self):
        if self.browser:
            self.browser.close()
        if self.attacker:
            self.attacker.shutdown()
        for proc, sig in ((self.loader, signal.SIGTERM), (self.server, signal.SIGINT), (self.sim, signal.SIGTERM)):
            if proc and proc.poll() is None:
                proc.send_signal(sig)
                try:
                    proc.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        self.log.close()
        self.loader_log.close()
        shutil.rmtree(self.prefix, ignore_errors=True)
        shutil.rmtree(self.profile, ignore_errors=True)

    # ---- What the test looks at ----------------------------------------------------------------

    def logical_drives(self):
        status = self.ctl(["status"])
        found = re.search(r"(\d+) logical drives", status or "")
        if not found:
            raise Failure("raidsim status tells no logical drives: %r" % status)
        return int(found.group(1))

    def file(self, relative):
        with open(os.path.join(self.prefix, relative), "rb") as f:
            return f.read()

    def loader_lines(self):
        with open(self.loader_log_path, errors="replace") as f:
            return f.read().splitlines()

    def shot(self, name):
        data = self.browser.call("Page.captureScreenshot", {"format": "png"})["data"]
        with open(os.path.join(self.shots, name + ".png"), "wb") as f:
            f.write(base64.b64decode(data))

    def wait_page(self, expression, what, timeout=30):
        self.browser.wait_for("document.readyState === 'complete' && !!document.body && (%s)" % expression, what, timeout)

    # ---- Steps ---------------------------------------------------------------------------------

    def log_in(self):
        self.browser.navigate(self.base + "/")
        self.browser.wait_for(
            "(() => { const f = document.getElementById('main'); const d = f && f.contentDocument;"
            " return !!d && !!d.body && ((d.body.dataset.page === 'brivo-overview' && d.querySelector('.pair-card table.facts') !== null)"
            " || (d.body.dataset.page === 'brivo-monitor' && d.getElementById('arrays') !== null)); })()",
            "the overview (or monitor) with the pair read in full", timeout=60)
        self.shot("01_logged_in")

    def attack(self):
        before = (self.logical_drives(), self.file("db/syslog.ini"), self.file("db/password.web"))
        if before[0] != 3:
            raise Failure("the pair starts with %d logical drives" % before[0])
        version = json.loads(urllib.request.urlopen(urllib.request.Request(
            self.base + "/api/server/GetSyslogConfig",
            headers={"Authorization": "Basic " + base64.b64encode(LOGIN.encode()).decode()}), timeout=10).read())["version"]
        target = self.base + "/cgi-bin/cgiloader.cgi"
        operations = [
            {"module": "Brivo", "method": "DeleteHostLun", "ModDeviceName": PAIR, "HostLunNumber": "0"},
            {"module": "server", "method": "SetSyslogConfig", "version": version, "SyslogServer0": "203.0.113.66",
             "SyslogPort0": "514", "SyslogInfo0": "true", "SyslogWarn0": "true", "SyslogErr0": "true"},
            {"module": "server", "method": "UpdatePassword", "OldPassword": "pinecone", "NewPassword": "owned-by-them"},
        ]
        images = "\n".join('<img alt="" src="%s?%s">' % (target, urllib.parse.urlencode(o)) for o in operations)
        frames = "\n".join(
            '<iframe name="f%d"></iframe><form target="f%d" method="post" action="%s">%s</form>'
            % (i, i, target, "".join('<input type="hidden" name="%s" value="%s">' % kv for kv in o.items()))
            for i, o in enumerate(operations))
        page = ATTACK_PAGE.format(images=images, frames=frames, target=json.dumps(target),
                                  operations=json.dumps(operations)).encode()

        class Attacker(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(page)))
                self.end_headers()
                self.wfile.write(page)

            def log_message(self, *args):
                pass

        attacker_port = free_port()
        self.attacker = http.server.ThreadingHTTPServer(("127.0.0.1", attacker_port), Attacker)
        threading.Thread(target=self.attacker.serve_forever, daemon=True).start()
        refused_before = sum(1 for line in self.loader_lines() if line.endswith(" 403"))
        self.browser.navigate("http://127.0.0.1:%d/attack.html" % attacker_port)
        self.browser.wait_for("document.title === 'done'", "the attack page to finish", timeout=60)
        self.shot("02_attack_page")
        time.sleep(2)  # anything the server might still do
        after = (self.logical_drives(), self.file("db/syslog.ini"), self.file("db/password.web"))
        for what, old, new in zip(("logical drives", "db/syslog.ini", "db/password.web"), before, after):
            if old != new:
                raise Failure("the other site changed %s" % what)
        if b"203.0.113.66" in after[1]:
            raise Failure("the other site's syslog receiver was stored")
        refused = [line for line in self.loader_lines() if line.endswith(" 403")]
        if len(refused) - refused_before < 9:
            raise Failure("only %d of the 9 attempts were refused:\n%s" % (len(refused) - refused_before,
                                                                            "\n".join(self.loader_lines()[-30:])))
        deadline = time.time() + 20
        while b"0x10D" not in self.file("db/ServerLog.log"):
            if time.time() > deadline:
                raise Failure("no refusal in the event log")
            time.sleep(0.5)

    def own_pages(self):
        b = self.browser
        # Delete a logical drive with its page's button.
        b.navigate(self.base + "/cgi-bin/cgiloader.cgi?module=Brivo&method=GetHostLunInformation&ModDeviceName=%s"
                   "&HostLunNumber=2" % PAIR)
        self.wait_page("document.querySelector('button.danger') !== null", "the logical drive page")
        b.evaluate("document.querySelector('button.danger').click()")
        deadline = time.time() + 30
        while self.logical_drives() != 2:
            if time.time() > deadline:
                raise Failure("deleting the logical drive with its own page did not work")
            time.sleep(0.5)
        self.shot("03_deleted_on_own_page")
        # Save a syslog receiver with the settings page.
        b.navigate(self.base + "/cgi-bin/cgiloader.cgi?module=server&method=GetSyslogConfig")
        self.wait_page("!document.querySelector('button.primary').disabled", "the syslog page")
        b.evaluate("(() => { const row = document.querySelector('#receivers tr');"
                   " row.querySelector('[data-name=SyslogServer]').value = '127.0.0.1';"
                   " row.querySelector('[data-name=SyslogPort]').value = '5514';"
                   " document.querySelector('button.primary').click(); return true; })()")
        deadline = time.time() + 30
        while b"5514" not in self.file("db/syslog.ini"):
            if time.time() > deadline:
                raise Failure("saving the syslog settings with their page did not work")
            time.sleep(0.5)
        self.shot("04_syslog_saved")
        # Change the password with the password page, opened from the menu (a POST form).
        old = self.file("db/password.web")
        b.navigate(self.base + "/")
        b.wait_for("(() => { const bar = document.getElementById('netbar'); const d = bar && bar.contentDocument;"
                   " return !!d && [...d.querySelectorAll('.menu form button')].some(x => x.textContent.trim() === 'Password'); })()",
                   "the menu")
        b.evaluate("[...document.getElementById('netbar').contentDocument.querySelectorAll('.menu form button')]"
                   ".find(x => x.textContent.trim() === 'Password').click()")
        b.wait_for("(() => { const d = document.getElementById('main').contentDocument;"
                   " return !!d && !!d.getElementById('password-form'); })()", "the password page")
        b.evaluate("(() => { const d = document.getElementById('main').contentDocument;"
                   " d.getElementById('OldPassword').value = 'pinecone'; d.getElementById('NewPassword').value = 'juniper-7';"
                   " d.getElementById('ConfirmPassword').value = 'juniper-7';"
                   " d.querySelector('#password-form button').click(); return true; })()")
        deadline = time.time() + 30
        while self.file("db/password.web") == old:
            if time.time() > deadline:
                raise Failure("changing the password with its page did not work")
            time.sleep(0.5)
        self.shot("05_password_changed")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--chromium", default=shutil.which("chromium") or "")
    args = parser.parse_args()
    if not args.chromium or not os.path.exists(args.chromium):
        print("skipped: no Chromium")
        return 77
    for program in ("bin/server", "bin/cgiloader", "bin/raidsim", "mods/Brivo/Brivo.so"):
        if not os.path.exists(os.path.join(args.build, program)):
            print("skipped: %s is not built" % program)
            return 77
    run = Run(args)
    try:
        run.start()
        for step in (run.log_in, run.attack, run.own_pages):
            print("step:", step.__name__, flush=True)
            step()
    except Failure as failure:
        print("FAILED:", failure, flush=True)
        try:
            run.shot("failure")
        except Exception:
            pass
        return 1
    finally:
        run.stop()
    print("passed; screenshots in", run.shots)
    return 0


if __name__ == "__main__":
    sys.exit(main())
