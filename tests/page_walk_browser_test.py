#!/usr/bin/env python3
"""A screenshot walk of every page, following links only: raidsim with the demo's two controller
pairs, the built server and cgiloader, headless Chromium (the helpers of
brivo_pages_browser_test.py) in a 1366x900 and a 390x844 window.

From the site's root the walk opens every same-site page a visited page links to (an <a href>
that answers with a page; exports and downloads are skipped, forms are never sent), and saves a
full-page screenshot of each under <build>/page_walk/<width>x<height>/. It fails when a page the
administrator needs cannot be reached that way (see REQUIRED), when a page leaves an empty band
at its bottom (its document taller than its content) or is wider than the window, when the
network bar's frame does not
shrink back after its lists close, or when a served page carries a developer's comment.

Usage: page_walk_browser_test.py --build BUILD --source SOURCE [--chromium PATH]
Exit codes: 0 passed, 1 failed, 77 skipped (no Chromium, or the programs are not built).
"""

import base64
import json
import os
import sys
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from brivo_pages_browser_test import Walk, run_walk  # noqa: E402
from web_browser_test import Failure  # noqa: E402

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
with open(os.path.join(SOURCE_DIR, "sim", "examples", "demo.conf")) as _f:
    DEMO_CONFIG = _f.read()

# Pages (module, method) an administrator must reach from the menus.
REQUIRED = {
    ("server", "LoadIndex"), ("server", "ViewLogs"), ("server", "GetEmailConfig"), ("server", "GetSnmpConfig"),
    ("server", "GetSyslogConfig"), ("server", "GetPrefsConfig"), ("server", "UpdatePassword"),
    ("server", "TechSupportPing"), ("server", "GetAboutPage"), ("server", "GetDebugInfo"),
    ("Brivo", "GetOverview"), ("Brivo", "GetMonitor"), ("Brivo", "GetControllerInformation"),
    ("Brivo", "GetControllerParams"), ("Brivo", "GetHostPortTopologies"), ("Brivo", "GetDriveInformation"),
    ("Brivo", "GetEnclosureInformation"), ("Brivo", "GetRankInformation"), ("Brivo", "GetHostLunInformation"),
    ("Brivo", "GetCreateNewRankInformation"), ("Brivo", "GetCreateNewHostLunInformation"),
    ("Brivo", "GetStatistics"), ("Brivo", "GetSnapProgressInfo"),
}
# Links that answer with a file, not a page.
DOWNLOADS = {"GetAllControllerLogs", "ExportStatistics", "DownloadConfiguration", "ExportLogs", "GatherInformation",
             "SlmGetData"}
# Pixels a page may leave below its lowest element (its own bottom padding).
BAND_LIMIT = 64
MAX_PAGES = 120
WINDOWS = ((1366, 900), (390, 844))


def page_key(url):
    """(module, method) of a page address; (path, "") for a static one."""
    parts = urllib.parse.urlsplit(url)
    query = urllib.parse.parse_qs(parts.query)
    if parts.path.startswith("/cgi-bin/"):
        return (query.get("module", ["server"])[0], query.get("method", [""])[0])
    return (parts.path, "")


def visit_key(url):
    """What makes two addresses the same visit: the method and the objects it names (pair, solution,
    enclosure, array, logical drive), not every drive of every pair."""
    parts = urllib.parse.urlsplit(url)
    query = urllib.parse.parse_qs(parts.query)
    keep = ("module", "method", "StorageSolution", "ModDeviceName", "EnclosureNumber", "RankNumber",
            "HostLunNumber", "SubPage")
    return (parts.path,) + tuple((k, query[k][0]) for k in keep if k in query)


class PageWalk(Walk):
    sim_config = DEMO_CONFIG
    shots_folder = "page_walk"

    def screenshot_full(self, path):
        metrics = self.browser.call("Page.getLayoutMetrics")
        size = metrics.get("cssContentSize") or metrics["contentSize"]
        data = self.browser.call("Page.captureScreenshot", {
            "format": "png", "captureBeyondViewport": True,
            "clip": {"x": 0, "y": 0, "width": size["width"], "height": size["height"], "scale": 1}})["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def load(self, url):
        # The old document carries a mark; the page has loaded once a complete document lacks it
        # (the address may differ from url after a redirect).
        try:
            self.browser.evaluate("window.__walkMark = true")
        except Failure:
            pass
        self.browser.navigate(self.base + url)
        self.browser.wait_for("window.__walkMark === undefined && document.readyState === 'complete'"
                              " && document.body !== null", url, timeout=30)
        time.sleep(0.5)  # let the page's script settle (the network bar sizes its frame)

    def links(self):
        """Same-site page links of the document and its frames."""
        script = """(() => {
          const docs = [document];
          for (const f of document.querySelectorAll('iframe')) { try { if (f.contentDocument) docs.push(f.contentDocument); } catch (e) {} }
          const out = [];
          for (const d of docs) for (const a of d.querySelectorAll('a[href]')) {
            const u = new URL(a.getAttribute('href'), d.location.href);
            if (u.origin === location.origin) out.push(u.pathname + u.search);
          }
          return out; })()"""
        return self.browser.evaluate(script)

    def menu_forms(self):
        """Same-site actions of the menus' POST forms (the document and its frames): entries that
        open a page through a method that changes data, which a walk over links never submits."""
        script = """(() => {
          const docs = [document];
          for (const f of document.querySelectorAll('iframe')) { try { if (f.contentDocument) docs.push(f.contentDocument); } catch (e) {} }
          const out = [];
          for (const d of docs) for (const form of d.querySelectorAll('form.menu-form[action]')) {
            const u = new URL(form.getAttribute('action'), d.location.href);
            if (u.origin === location.origin) out.push(u.pathname + u.search);
          }
          return out; })()"""
        return self.browser.evaluate(script)

    def empty_band(self):
        """Pixels between the lowest visible element and the document's bottom (frames included)."""
        return self.browser.evaluate("""(() => {
          const band = (d) => {
            let bottom = 0;
            for (const e of d.body.querySelectorAll('*')) {
              const r = e.getBoundingClientRect();
              if (r.height > 0 && getComputedStyle(e).visibility !== 'hidden') bottom = Math.max(bottom, r.bottom + d.defaultView.scrollY);
            }
            // A page shorter than the window fills the window, which is no band.
            return d.documentElement.scrollHeight - Math.max(bottom, d.defaultView.innerHeight);
          };
          if (document.body.classList.contains('shell')) {
            const bar = document.getElementById('netbar');
            const d = bar.contentDocument;
            const style = getComputedStyle(d.body);
            const bottom = [...d.body.children].reduce((m, c) => Math.max(m, c.getBoundingClientRect().bottom), 0);
            return bar.getBoundingClientRect().height - (bottom + parseFloat(style.paddingBottom) + parseFloat(style.marginBottom));
          }
          return band(document); })()""")

    def check_comments(self, url):
        html = self.browser.evaluate("fetch(%s, {credentials: 'same-origin'}).then(r => r.text())" % json.dumps(url))
        rest = html.replace("<!-- qcli script -->", "")
        if "<!--" in rest:
            start = rest.index("<!--")
            raise Failure("%s sends a comment: %r" % (url, rest[start:start + 120]))

    def check_bar_shrinks(self):
        """The network bar grows while a list is open and goes back to its height afterwards."""
        bar = "document.getElementById('netbar')"
        closed = self.browser.evaluate(bar + ".getBoundingClientRect().height")
        self.browser.evaluate(bar + ".contentDocument.querySelectorAll('details').forEach(d => d.open = true)")
        time.sleep(0.5)
        opened = self.browser.evaluate(bar + ".getBoundingClientRect().height")
        self.browser.evaluate(bar + ".contentDocument.querySelectorAll('details').forEach(d => d.open = false)")
        time.sleep(0.5)
        again = self.browser.evaluate(bar + ".getBoundingClientRect().height")
        if opened < closed or abs(again - closed) > 2:
            raise Failure("the network bar is %s px high, %s px with its lists open and %s px after" %
                          (closed, opened, again))

    def walk(self, width, height):
        folder = os.path.join(self.shots, "%dx%d" % (width, height))
        os.makedirs(folder, exist_ok=True)
        self.browser.call("Emulation.setDeviceMetricsOverride",
                          {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 500})
        queue = ["/"]
        seen = set()
        reached = set()
        in_menus = set()
        bands = []
        wide = []
        count = 0
        while queue and count < MAX_PAGES:
            url = queue.pop(0)
            if visit_key(url) in seen:
                continue
            seen.add(visit_key(url))
            key = page_key(url)
            if key[1] in DOWNLOADS:
                continue
            self.load(url)
            if self.browser.evaluate("document.contentType") != "text/html":
                continue
            count += 1
            reached.add(key)
            if document_is_shell := self.browser.evaluate("document.body.classList.contains('shell')"):
                self.browser.wait_for("document.getElementById('netbar').contentDocument.querySelector('.brand') !== null"
                                      " && document.getElementById('main').contentDocument.readyState === 'complete'",
                                      "the start page's frames", timeout=30)
                self.check_bar_shrinks()
            overflow = self.browser.evaluate("document.documentElement.scrollWidth - document.documentElement.clientWidth")
            if overflow > 2:
                wide.append("%s: %d px" % (url, overflow))
            band = self.empty_band()
            if band > BAND_LIMIT and not document_is_shell:
                bands.append("%s: %d px" % (url, band))
            elif document_is_shell and abs(band) > 2:
                bands.append("%s: the network bar's frame is %d px taller than its content" % (url, band))
            name = "%03d_%s_%s.png" % (count, key[0].strip("/").replace("/", "_"), key[1] or "static")
            self.screenshot_full(os.path.join(folder, name))
            if width == WINDOWS[0][0]:
                self.check_comments(url)
            for link in self.links():
                if visit_key(link) not in seen:
                    queue.append(link)
            in_menus.update(page_key(action) for action in self.menu_forms())
        missing = sorted("%s/%s" % k for k in REQUIRED - reached - in_menus)
        print("%dx%d: %d pages, screenshots in %s" % (width, height, count, folder), flush=True)
        if missing:
            raise Failure("not reachable by links or menu forms from the start page: %s" % ", ".join(missing))
        if bands:
            raise Failure("pages with an empty band: %s" % "; ".join(bands))
        if wide:
            raise Failure("pages wider than the %d px window: %s" % (width, "; ".join(wide)))

    def wait_for_pairs(self):
        """Until the overview shows both pairs read in full (the server has claimed them)."""
        self.browser.navigate(self.base + "/")
        self.wait_main("d.body.dataset.page === 'brivo-overview' && d.querySelectorAll('.pair-card table.facts').length === 2",
                       "both pairs on the overview", timeout=90)

    def run_walks(self):
        self.wait_for_pairs()
        for width, height in WINDOWS:
            self.walk(width, height)


def main():
    return run_walk(PageWalk, lambda walk: [walk.run_walks])


if __name__ == "__main__":
    sys.exit(main())
