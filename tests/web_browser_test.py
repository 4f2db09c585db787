#!/usr/bin/env python3
"""The web pages in a real browser: the built server (-debug) and cgiloader in a temporary
installed tree, driven by headless Chromium over its DevTools pipe.

Loads the start page (network bar and main page), opens the event log from the bar's menu and
clears it, saves the SNMP settings and the e-mail settings through their forms (the e-mail
signature must survive a second, unchanged save byte for byte), saves the preferences, collects
the tech-support archive (downloaded by the page's script), opens the other server pages,
rescans (the rescan page must come back to the main page on its own once the server has
restarted) and changes the password (afterwards only the new one opens pages). Every step saves a
screenshot under <build>/web_screenshots/.

Usage: web_browser_test.py --build BUILD --source SOURCE [--chromium PATH]
Exit codes: 0 passed, 1 failed, 77 skipped (no Chromium, or the programs are not built).
"""

import argparse
import base64
import fcntl
import json
import os
import queue
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-dev-shm-usage", "--remote-debugging-pipe",
]
LOGIN = "admin:pinecone"  # the default password file of a fresh install


class Failure(Exception):
    pass


class DevTools:
    """A Chromium process and one page target, spoken to over --remote-debugging-pipe (JSON
    messages ended by NUL; Chromium reads fd 3 and writes fd 4)."""

    def __init__(self, chromium, profile):
        to_chrome_r, to_chrome_w = os.pipe()
        from_chrome_r, from_chrome_w = os.pipe()
        # Move the child's ends above 4 so that placing them on 3 and 4 cannot clobber each other.
        high_r = fcntl.fcntl(to_chrome_r, fcntl.F_DUPFD, 10)
        high_w = fcntl.fcntl(from_chrome_w, fcntl.F_DUPFD, 10)
        os.close(to_chrome_r)
        os.close(from_chrome_w)

        def place_pipes():
            os.dup2(high_r, 3)
            os.dup2(high_w, 4)

        self.proc = subprocess.Popen(
            [chromium] + CHROMIUM_FLAGS + ["--user-data-dir=" + profile, "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=place_pipes, pass_fds=(3, 4))
        os.close(high_r)
        os.close(high_w)
        self.out = os.fdopen(to_chrome_w, "wb", buffering=0)
        self.inp = os.fdopen(from_chrome_r, "rb", buffering=0)
        self.lock = threading.Lock()
        self.next_id = 0
        self.replies = {}
        self.events = queue.Queue()
        self.cond = threading.Condition()
        self.session = None
        self.dialogs = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        buffer = b""
        while True:
            chunk = self.inp.read(65536)
            if not chunk:
                return
            buffer += chunk
            while b"\0" in buffer:
                raw, buffer = buffer.split(b"\0", 1)
                message = json.loads(raw)
                if "id" in message:
                    with self.cond:
                        self.replies[message["id"]] = message
                        self.cond.notify_all()
                elif message.get("method") == "Page.javascriptDialogOpening":
                    # Confirmation dialogs ("Clear the event log?") are answered yes.
                    self.dialogs.append(message["params"].get("message", ""))
                    self._send("Page.handleJavaScriptDialog", {"accept": True}, self.session)
                else:
                    self.events.put(message)

    def _send(self, method, params, session):
        with self.lock:
            self.next_id += 1
            ident = self.next_id
            message = {"id": ident, "method": method, "params": params or {}}
            if session:
                message["sessionId"] = session
            self.out.write(json.dumps(message).encode() + b"\0")
        return ident

    def call(self, method, params=None, session="page", timeout=30):
        ident = self._send(method, params, self.session if session == "page" else session)
        deadline = time.time() + timeout
        with self.cond:
            while ident not in self.replies:
                left = deadline - time.time()
                if left <= 0:
                    raise Failure("no answer to " + method)
                self.cond.wait(left)
            reply = self.replies.pop(ident)
        if "error" in reply:
            raise Failure(method + ": " + json.dumps(reply["error"]))
        return reply.get("result", {})

    def open_page(self, width, height, headers):
        target = self.call("Target.createTarget", {"url": "about:blank"}, session=None)["targetId"]
        self.session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True}, session=None)["sessionId"]
        for method, params in (("Page.enable", {}), ("Runtime.enable", {}), ("Network.enable", {}),
                               ("Network.setExtraHTTPHeaders", {"headers": headers}),
                               ("Emulation.setDeviceMetricsOverride",
                                {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})):
            self.call(method, params)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True, "awaitPromise": True})
        if "exceptionDetails" in result:
            raise Failure("script failed: " + expression + ": " + json.dumps(result["exceptionDetails"])[:400])
        return result["result"].get("value")

    def wait_for(self, expression, what, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            try:
                if self.evaluate(expression):
                    return
            except Failure:
                pass  # the document may be between pages
            time.sleep(0.2)
        raise Failure("timed out waiting for " + what)

    def navigate(self, url):
        self.call("Page.navigate", {"url": url})

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", {"format": "png"})["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        try:
            self.call("Browser.close", session=None, timeout=5)
        except Exception:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_tree(build, source, prefix):
    """The installed tree as cmake --install lays it out, from the build and source folders."""
    shutil.copy2(os.path.join(build, "bin", "server"), os.path.join(prefix, "server"))
    shutil.copytree(os.path.join(source, "data", "db"), os.path.join(prefix, "db"))
    shutil.copytree(os.path.join(source, "www"), os.path.join(prefix, "www"))
    shutil.copytree(os.path.join(source, "html"), os.path.join(prefix, "html"))
    os.makedirs(os.path.join(prefix, "www", "cgi-bin"), exist_ok=True)
    shutil.copy2(os.path.join(build, "bin", "cgiloader"), os.path.join(prefix, "www", "cgi-bin", "cgiloader"))
    for folder in ("temp", "Information", "mods"):
        os.makedirs(os.path.join(prefix, folder), exist_ok=True)


def read_settings(path):
    values = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if " = " in line:
                key, value = line.rstrip("\n").split(" = ", 1)
                values[key] = value
    return values


class Run:
    def __init__(self, args):
        self.args = args
        self.shots = os.path.join(args.build, "web_screenshots")
        os.makedirs(self.shots, exist_ok=True)
        self.prefix = tempfile.mkdtemp(prefix="kestrova-web-")
        self.profile = tempfile.mkdtemp(prefix="kestrova-chromium-")
        self.port = free_port()
        self.base = "http://127.0.0.1:%d" % self.port
        self.env = dict(os.environ, KESTROVA_SHM_PREFIX="kestrova-web-%d." % os.getpid())
        self.server = self.loader = self.browser = None
        self.server_log = open(os.path.join(self.shots, "server.log"), "wb")

    def url(self, method, module="server"):
        return "%s/cgi-bin/cgiloader.cgi?module=%s&method=%s" % (self.base, module, method)

    def start(self):
        make_tree(self.args.build, self.args.source, self.prefix)
        self.server = subprocess.Popen([os.path.join(self.prefix, "server"), "-debug"], cwd=self.prefix, env=self.env,
                                       stdin=subprocess.DEVNULL, stdout=self.server_log, stderr=subprocess.STDOUT)
        self.loader = subprocess.Popen(
            [os.path.join(self.prefix, "www", "cgi-bin", "cgiloader"), "--listen", "127.0.0.1:%d" % self.port,
             "--root", self.prefix], env=self.env, stdin=subprocess.DEVNULL, stdout=self.server_log,
            stderr=subprocess.STDOUT)
        self.wait_for_server()
        self.browser = DevTools(self.args.chromium, self.profile)
        auth = "Basic " + base64.b64encode(LOGIN.encode()).decode()
        self.browser.open_page(1366, 800, {"Authorization": auth})

    def answers(self, login):
        """HTTP status of a SessionPing with login, or 0 when it fails or is not the ping page."""
        request = urllib.request.Request(self.url("SessionPing"),
                                         headers={"Authorization": "Basic " + base64.b64encode(login.encode()).decode()})
        try:
            with urllib.request.urlopen(request, timeout=5) as answer:
                return answer.status if b'data-marker="session-ping"' in answer.read() else 0
        except urllib.error.HTTPError as error:
            return error.code
        except Exception:
            return 0

    def wait_for_server(self, login=LOGIN, timeout=60):
        """Until the server answers a page through the front end."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.answers(login) == 200:
                return
            time.sleep(0.3)
        raise Failure("the server did not answer through cgiloader")

    def stop(self):
        if self.browser:
            self.browser.close()
        for proc in (self.loader, self.server):
            if proc and proc.poll() is None:
                proc.send_signal(signal.SIGINT if proc is self.server else signal.SIGTERM)
                try:
                    proc.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        self.server_log.close()
        shutil.rmtree(self.prefix, ignore_errors=True)
        shutil.rmtree(self.profile, ignore_errors=True)

    def shot(self, name):
        self.browser.screenshot(os.path.join(self.shots, name + ".png"))

    # ---- Steps ---------------------------------------------------------------------------------

    def start_page(self):
        b = self.browser
        b.navigate(self.base + "/")
        b.wait_for("(() => { const bar = document.getElementById('netbar');"
                   " return bar && bar.contentDocument && bar.contentDocument.querySelector('.brand') !== null; })()",
                   "the network bar")
        brand = b.evaluate("document.getElementById('netbar').contentDocument.querySelector('.brand').textContent")
        if brand != "Kestrova Storage Manager":
            raise Failure("network bar names %r" % brand)
        b.wait_for("document.getElementById('main').contentDocument.readyState === 'complete'"
                   " && document.getElementById('main').contentDocument.body.childElementCount > 0", "the main page")
        height = b.evaluate("document.getElementById('netbar').getBoundingClientRect().height")
        if not 30 < height < 200:
            raise Failure("network bar frame is %s px high" % height)
        self.shot("01_start_page")
        # Static images: the command result icons and the module tab images the server names.
        for image in ("/images/popup_info.gif", "/images/popup_error.gif", "/Brivo/images/tab.gif",
                      "/Brivo/images/tabActive_fail.gif"):
            kind = b.evaluate("fetch(%s).then(r => r.ok ? r.headers.get('Content-Type') : 'status ' + r.status)"
                              % json.dumps(image))
            if kind != "image/gif":
                raise Failure("%s answered %s" % (image, kind))

    def in_main(self, expression):
        return "(() => { const d = document.getElementById('main').contentDocument; return %s; })()" % expression

    def open_from_bar(self, label, marker):
        b = self.browser
        # Entries that open a page which changes data are POST forms with a button, the others links.
        b.evaluate("[...document.getElementById('netbar').contentDocument.querySelectorAll('.menu a, .menu form button')]"
                   ".find(a => a.textContent.trim() === %s).click()" % json.dumps(label))
        b.wait_for(self.in_main("d.body && d.body.dataset.page === %s && d.readyState === 'complete'" % json.dumps(marker)),
                   label + " in the main frame")

    def event_log(self):
        b = self.browser
        self.open_from_bar("Event log", "event-log")
        b.wait_for(self.in_main("d.querySelectorAll('#log-rows tr').length > 0"), "log records")
        active = b.evaluate("document.getElementById('netbar').contentDocument.querySelector('.menu .active').textContent")
        if active.strip() != "Event log":
            raise Failure("the bar marks %r as the current page" % active)
        self.shot("02_event_log")
        b.evaluate(self.in_main("d.querySelector('button.danger').click()"))
        b.wait_for(self.in_main("d.querySelector('.notice') !== null && d.readyState === 'complete'"), "the clear result")
        text = b.evaluate(self.in_main("d.querySelector('.notice strong').textContent"))
        if "completed successfully" not in text:
            raise Failure("clearing the log said %r" % text)
        if not any("Clear the event log" in m for m in b.dialogs):
            raise Failure("clearing did not ask first")
        self.shot("03_event_log_cleared")

    def snmp_settings(self):
        b = self.browser
        self.open_from_bar("Notifications", "settings-mail")
        b.evaluate(self.in_main("d.querySelectorAll('.subnav a')[1].click()"))
        b.wait_for(self.in_main("d.body && d.title.startsWith('SNMP') && d.readyState === 'complete'"
                                " && !d.querySelector('button.primary').disabled"), "the SNMP page")
        b.evaluate(self.in_main(
            "(() => { const row = d.querySelector('#receivers tr');"
            " row.querySelector('[data-name=SnmpServer]').value = '127.0.0.1';"
            " row.querySelector('[data-name=SnmpCommunity]').value = 'storage';"
            " row.querySelector('[data-name=SnmpPort]').value = '1162';"
            " row.querySelector('[data-name=SnmpInfo]').checked = false;"
            " row.querySelector('[data-name=SnmpWarn]').checked = true;"
            " row.querySelector('[data-name=SnmpErr]').checked = true;"
            " d.getElementById('add-receiver').click();"
            " d.querySelectorAll('#receivers tr')[1].querySelector('[data-name=SnmpServer]').value = 'nms.example.net';"
            " d.querySelector('button.primary').click(); return true; })()"))
        b.wait_for(self.in_main("d.querySelector('.notice') !== null && d.readyState === 'complete'"), "the SNMP save result")
        saved = read_settings(os.path.join(self.prefix, "db", "snmp.ini"))
        expected = {"SnmpServer0": "127.0.0.1", "SnmpCommunity0": "storage", "SnmpPort0": "1162", "SnmpIWE0": "011",
                    "SnmpServer1": "nms.example.net", "SnmpCommunity1": "public", "SnmpPort1": "162", "SnmpIWE1": "111"}
        for key, value in expected.items():
            if saved.get(key) != value:
                raise Failure("snmp.ini %s = %r, expected %r (%s)" % (key, saved.get(key), value, saved))
        rows = b.evaluate(self.in_main("d.querySelectorAll('#receivers tr').length"))
        warn = b.evaluate(self.in_main("d.querySelector('#receivers tr [data-name=SnmpWarn]').checked"))
        info = b.evaluate(self.in_main("d.querySelector('#receivers tr [data-name=SnmpInfo]').checked"))
        if rows != 2 or not warn or info:
            raise Failure("the saved SNMP page shows %s rows, info %s, warn %s" % (rows, info, warn))
        self.shot("04_snmp_saved")

    def mail_settings(self):
        b = self.browser
        signature = 'Storage team\n"Room B" \\ 2'
        self.open_from_bar("Notifications", "settings-mail")
        b.wait_for(self.in_main("!d.querySelector('button.primary').disabled"), "the e-mail page's script")
        b.evaluate(self.in_main(
            "(() => { d.getElementById('emailServer').value = 'mail.example.net';"
            " const row = d.querySelector('tr[data-row=\"0\"]');"
            " row.querySelector('[data-name=emailAddr]').value = 'ops@example.net';"
            " for (const box of row.querySelectorAll('input[type=checkbox]')) { box.checked = box.dataset.pos !== '0';"
            "   box.dispatchEvent(new Event('change')); }"
            " const sig = d.getElementById('sigEnableBox'); sig.checked = true; sig.dispatchEvent(new Event('change'));"
            " d.getElementById('emailSigText').value = %s;"
            " d.querySelector('button.primary').click(); return true; })()" % json.dumps(signature)))
        b.wait_for(self.in_main("d.querySelector('.notice') !== null && d.readyState === 'complete'"), "the e-mail save")
        first = read_settings(os.path.join(self.prefix, "db", "email.ini"))
        expected = {"emailServer": "mail.example.net", "emailAddr1": "ops@example.net", "emailSetIWE1": "011",
                    "emailSigEnable": "true", "emailSigText": 'Storage team\\r\\n\\"Room B\\" \\\\ 2'}
        for key, value in expected.items():
            if first.get(key) != value:
                raise Failure("email.ini %s = %r, expected %r" % (key, first.get(key), value))
        shown = b.evaluate(self.in_main("d.getElementById('emailSigText').value"))
        if shown.replace("\r\n", "\n") != signature:
            raise Failure("the page shows the signature as %r" % shown)
        self.shot("05_mail_saved")
        # Saving the page again unchanged stores the same signature.
        b.wait_for(self.in_main("!d.querySelector('button.primary').disabled"), "the e-mail page's script")
        b.evaluate(self.in_main("d.querySelector('button.primary').click()"))
        b.wait_for(self.in_main("d.readyState === 'complete' && d.querySelector('input[name=version]') &&"
                                " d.querySelector('input[name=version]').value === %s" % json.dumps(str(int(first['version']) + 1))),
                   "the second e-mail save")
        second = read_settings(os.path.join(self.prefix, "db", "email.ini"))
        if second.get("emailSigText") != first.get("emailSigText") or second.get("emailSetIWE1") != "011":
            raise Failure("a second save changed the settings: %r" % second)

    def preferences(self):
        b = self.browser
        self.open_from_bar("Preferences", "preferences")
        b.evaluate(self.in_main("(() => { d.querySelector('input[name=DirectIpValue0]').value = '192.168.7.7';"
                                " d.querySelector('button.primary').click(); return true; })()"))
        b.wait_for(self.in_main("d.readyState === 'complete' && d.querySelector('input[name=DirectIpValue0]')"
                                " && d.querySelector('input[name=DirectIpValue0]').value === '192.168.7.7'"
                                " && d.querySelector('input[name=version]').value !== '0'"), "the saved preferences")
        if read_settings(os.path.join(self.prefix, "db", "IP.db")).get("IP1") != "192.168.7.7":
            raise Failure("IP.db did not get the partner address")
        self.shot("06_preferences")

    def tech_support(self):
        b = self.browser
        downloads = os.path.join(self.shots, "downloads")
        shutil.rmtree(downloads, ignore_errors=True)
        os.makedirs(downloads)
        b.call("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads}, session=None)
        self.open_from_bar("Tech support", "techsupport")
        b.evaluate(self.in_main("(() => { d.getElementById('PersonName').value = 'Pat Doe';"
                                " d.getElementById('Problem').value = 'Drive 3 blinks\\nsince Monday';"
                                " d.getElementById('collect').click(); return true; })()"))
        b.wait_for(self.in_main("d.getElementById('collect-text').textContent.includes('saved as')"), "the archive", timeout=90)
        self.shot("07_tech_support")
        deadline = time.time() + 10
        while time.time() < deadline and not [n for n in os.listdir(downloads) if not n.endswith(".crdownload")]:
            time.sleep(0.2)
        files = [n for n in os.listdir(downloads) if not n.endswith(".crdownload")]
        if len(files) != 1 or not files[0].endswith(".archive"):
            raise Failure("downloaded %r" % files)
        with open(os.path.join(downloads, files[0]), encoding="utf-8", errors="replace") as f:
            archive = f.read()
        if "ENDOFFILE" not in archive or "Pat Doe" not in archive or "Drive 3 blinks\\r\\nsince Monday" not in archive:
            raise Failure("the archive lacks the problem report")

    def other_pages(self):
        for label, marker, name in (("Password", "password", "08_password"), ("About", "about", "09_about")):
            self.open_from_bar(label, marker)
            self.shot(name)
        b = self.browser
        b.evaluate(self.in_main("d.querySelector('a[href*=GetDebugInfo]').click()"))
        b.wait_for(self.in_main("d.body && d.body.dataset.page === 'debug' && d.readyState === 'complete'"), "the debug page")
        self.shot("10_debug")
        for method, marker, name in (("testMethod&note=%3Cb%3Ebold%3C%2Fb%3E", "results", "10b_request_echo"),
                                     ("TestLoop", "testloop", "10c_template_loops")):
            b.navigate(self.url(method))
            b.wait_for("document.body && document.body.dataset.page === %s" % json.dumps(marker), method)
            self.shot(name)
        if b.evaluate("document.querySelector('b') !== null"):
            raise Failure("a request value became markup")
        b.navigate(self.url("GetAboutPage") + "&VerificationPassword=wrong")
        b.wait_for("document.body && document.body.dataset.page === 'popup'", "the password pop-up")
        self.shot("10d_message_popup")
        b.navigate(self.url("getmainpage"))
        b.wait_for("document.body && document.body.dataset.page === 'error'", "the error panel")
        self.shot("11_error_panel")

    def rescan(self):
        b = self.browser
        b.navigate(self.base + "/")
        b.wait_for("document.getElementById('netbar').contentDocument &&"
                   " document.getElementById('netbar').contentDocument.querySelector('.rescan button') !== null", "the bar")
        b.evaluate("document.getElementById('netbar').contentDocument.querySelector('.rescan button').click()")
        b.wait_for(self.in_main("d.body && d.body.dataset.page === 'rescan'"), "the rescan page")
        self.shot("12_rescanning")
        # The page returns to the main page once the server has restarted.
        b.wait_for(self.in_main("d.body && d.body.dataset.page !== 'rescan' && d.readyState === 'complete'"
                                " && d.location.search.includes('method=GetMainPage')"), "the return from the rescan", timeout=90)
        self.shot("13_after_rescan")

    def password(self):
        b = self.browser
        self.open_from_bar("Password", "password")
        if b.evaluate(self.in_main("d.querySelector('.notice') === null || d.querySelector('.notice').hidden")) is not True:
            raise Failure("the password form shows the result of the request that opened it")
        b.evaluate(self.in_main("(() => { d.getElementById('OldPassword').value = 'pinecone';"
                                " d.getElementById('NewPassword').value = 'juniper-7';"
                                " d.getElementById('ConfirmPassword').value = 'juniper-7';"
                                " d.querySelector('#password-form button').click(); return true; })()"))
        b.wait_for(self.in_main("d.getElementById('relogin') && !d.getElementById('relogin').hidden"), "the password result")
        text = b.evaluate(self.in_main("d.querySelector('.notice strong').textContent"))
        if "completed successfully" not in text:
            raise Failure("the password change said %r" % text)
        self.shot("14_password_changed")
        # The server changes the password a few seconds later; from then on only the new one opens pages.
        self.wait_for_server(login="admin:juniper-7", timeout=90)
        if self.answers(login=LOGIN) != 401:
            raise Failure("the old password still opens pages")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--chromium", default=shutil.which("chromium") or shutil.which("chromium-browser"))
    args = parser.parse_args()
    if not args.chromium or not os.path.exists(args.chromium):
        print("skipped: no Chromium")
        return 77
    for program in ("server", "cgiloader"):
        if not os.path.exists(os.path.join(args.build, "bin", program)):
            print("skipped: %s is not built" % program)
            return 77
    run = Run(args)
    steps = [run.start_page, run.event_log, run.snmp_settings, run.mail_settings, run.preferences, run.tech_support,
             run.other_pages, run.rescan, run.password]
    try:
        run.start()
        for step in steps:
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
