#!/usr/bin/env python3
"""/metrics against a running set-up like the demo's: raidsim with sim/examples/demo.conf, the
server (-debug) and cgiloader on a free loopback port in a tree installed with cmake --install.
The page is parsed with Debian's python3-prometheus-client parser, which refuses anything that
is not the text exposition format; then faults injected into the simulator must show in the
values.

Usage: metrics_test.py --build BUILD --source SOURCE
Exit codes: 0 passed, 1 failed, 77 skipped (python3-prometheus-client is not installed).
"""

import argparse
import base64
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

try:
    from prometheus_client.parser import text_string_to_metric_families
except ImportError:
    print("SKIP: python3-prometheus-client is not installed (scripts/bootstrap.sh installs it)")
    sys.exit(77)

LOGIN = "admin:pinecone"
ALPHA = "Brivo20000004CF8A1B2C"
BETA = "Brivo20000004CF8A9F10"


class Failure(Exception):
    pass


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SetUp:
    """The three programs in a scratch folder; stop() ends them in order and removes it."""

    def __init__(self, build, source):
        self.build = build
        self.folder = tempfile.mkdtemp(prefix="kestrova-metrics-")
        self.prefix = os.path.join(self.folder, "tree")
        self.socket = os.path.join(self.folder, "sim.sock")
        self.port = free_port()
        self.env = dict(os.environ, KESTROVA_SHM_PREFIX="kestrova-metrics-%d." % os.getpid(),
                        KESTROVA_NET_ADDRESSES="127.0.0.1", KESTROVA_SCSI_SIM=self.socket)
        self.log = open(os.path.join(self.folder, "programs.log"), "wb")
        self.procs = []
        subprocess.run(["cmake", "--install", build, "--prefix", self.prefix], check=True,
                       stdout=subprocess.DEVNULL)
        self.raidsim = self.spawn([os.path.join(build, "bin", "raidsim"), "--socket", self.socket, "--config",
                                   os.path.join(source, "sim", "examples", "demo.conf")])
        deadline = time.time() + 10
        while not os.path.exists(self.socket):
            if time.time() > deadline:
                raise Failure("raidsim did not start")
            time.sleep(0.05)
        self.server = self.spawn([os.path.join(self.prefix, "server"), "-debug"], cwd=self.prefix)
        self.loader = self.spawn([os.path.join(self.prefix, "www", "cgi-bin", "cgiloader"), "--listen",
                                  "127.0.0.1:%d" % self.port, "--root", self.prefix])

    def spawn(self, argv, cwd=None):
        proc = subprocess.Popen(argv, cwd=cwd, env=self.env, stdin=subprocess.DEVNULL, stdout=self.log,
                                stderr=subprocess.STDOUT)
        self.procs.append(proc)
        return proc

    def ctl(self, *words):
        subprocess.run([os.path.join(self.build, "bin", "raidsim"), "ctl", self.socket] + list(words), check=True,
                       stdout=subprocess.DEVNULL)

    def fetch(self, path, login=LOGIN):
        headers = {"Authorization": "Basic " + base64.b64encode(login.encode()).decode()} if login else {}
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.port, path), headers=headers)
        try:
            with urllib.request.urlopen(request, timeout=30) as answer:
                return answer.status, answer.headers.get("Content-Type", ""), answer.read().decode()
        except urllib.error.HTTPError as error:
            return error.code, "", ""
        except (urllib.error.URLError, OSError):
            return 0, "", ""  # not listening yet

    def stop(self):
        """Ends the programs in order; the ones that did not end cleanly (status 0), with the log's tail."""
        unclean = []
        for name, proc, sig in (("cgiloader", self.loader, signal.SIGTERM), ("server", self.server, signal.SIGINT),
                                ("raidsim", self.raidsim, signal.SIGTERM)):
            if proc.poll() is None:
                proc.send_signal(sig)
                try:
                    proc.wait(timeout=60)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
            if proc.returncode != 0:
                unclean.append("%s ended with status %d" % (name, proc.returncode))
        self.log.close()
        if unclean:
            with open(os.path.join(self.folder, "programs.log"), "rb") as log:
                unclean.append(log.read()[-4000:].decode(errors="replace"))
        shutil.rmtree(self.folder, ignore_errors=True)
        return unclean


def samples(text):
    """{(name, frozenset(labels)): value} and {family name: type} of a page, through the parser."""
    values = {}
    types = {}
    for family in text_string_to_metric_families(text):
        types[family.name] = family.type
        for sample in family.samples:
            key = (sample.name, frozenset(sample.labels.items()))
            if key in values:
                raise Failure("sample given twice: %s %s" % key)
            values[key] = sample.value
    return values, types


def value(values, metric, **labels):
    key = (metric, frozenset(labels.items()))
    if key not in values:
        raise Failure("missing sample %s%s" % (metric, labels))
    return values[key]


def wait_for(setup, condition, what, timeout=60):
    """Scrapes until condition(values) holds; the last page's values."""
    deadline = time.time() + timeout
    last = None
    while time.time() < deadline:
        status, _, text = setup.fetch("/metrics")
        if status == 200:
            last = samples(text)[0]
            try:
                if condition(last):
                    return last
            except Failure:
                pass
        time.sleep(0.3)
    raise Failure("timed out waiting for " + what)


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_healthy_page(setup):
    status, content_type, text = setup.fetch("/metrics")
    check(status == 200 and content_type.startswith("text/plain; version=0.0.4"), "page answer %d %s" % (status, content_type))
    values, types = samples(text)
    check(value(values, "kestrova_server_up") == 1, "server up")
    for family, kind in (("kestrova_server_global_status", "gauge"), ("kestrova_event_log_records", "counter"),
                         ("kestrova_notifier_dropped", "counter"), ("kestrova_notifier_sent", "counter"),
                         ("kestrova_notifier_failed", "counter"), ("kestrova_notifier_queued", "gauge"),
                         ("kestrova_http_requests", "counter"),
                         ("kestrova_http_request_duration_seconds", "histogram"), ("kestrova_drive_status", "gauge"),
                         ("kestrova_array_fault_status", "gauge"), ("kestrova_unit_claim_status", "gauge"),
                         ("kestrova_network_packets_dropped", "counter"), ("kestrova_network_authenticated", "gauge")):
        check(types.get(family) == kind, "family %s is %s, not %s" % (family, types.get(family), kind))
    for channel in ("kvlog", "oslog", "email", "snmp", "syslog", "webhook"):
        check(value(values, "kestrova_notifier_dropped_total", channel=channel) == 0, "drops of " + channel)
        check(value(values, "kestrova_notifier_failed_total", channel=channel) == 0, "failures of " + channel)
    check(value(values, "kestrova_notifier_sent_total", channel="kvlog") >= 1, "event log records written")
    check(value(values, "kestrova_event_log_records_total", level="information") >= 1, "server start logged")
    check(value(values, "kestrova_network_authenticated") == 0, "no network key in a fresh instance")
    check(value(values, "kestrova_network_packets_dropped_total", reason="bad_mac") == 0, "no forged packets")
    for pair, drives in ((ALPHA, 12), (BETA, 16)):
        check(value(values, "kestrova_pair_readable", pair=pair) == 1, pair + " readable")
        check(value(values, "kestrova_drives", pair=pair, status="good") == drives, pair + " drives")
        for controller in ("A", "B"):
            check(value(values, "kestrova_controller_up", pair=pair, controller=controller) == 1, "controller up")
            check(value(values, "kestrova_controller_battery_charge_percent", pair=pair, controller=controller) == 100,
                  "battery charge")
            check(value(values, "kestrova_controller_battery_state", pair=pair, controller=controller) == 1,
                  "battery state")
            check(value(values, "kestrova_controller_temperature_celsius", pair=pair, controller=controller,
                        sensor="air") == 30, "air temperature")
    check(value(values, "kestrova_arrays", pair=ALPHA, state="tolerant") == 2, "alpha's arrays in service")
    check(value(values, "kestrova_array_fault_status", pair=BETA, array="0", name="media") == 3, "beta media array")
    check(value(values, "kestrova_array_job", pair=BETA, array="1", name="scratch") == 1, "beta initialising")
    check(value(values, "kestrova_logical_drive_state", pair=ALPHA, logical_drive="0", name="ledger") == 0,
          "ledger online")
    claims = {(dict(labels)["unit"], dict(labels)["path"]): v for (name, labels), v in values.items()
              if name == "kestrova_unit_claim_status"}
    check({unit for unit, _ in claims} == {ALPHA, BETA} and all(v in (1, 2, 4) for v in claims.values()),
          "claim status of the pairs' paths: %s" % claims)
    # The histogram's buckets are cumulative and end at the count.
    page_buckets = sorted((float(dict(labels)["le"]), v) for (name, labels), v in values.items()
                          if name == "kestrova_http_request_duration_seconds_bucket" and dict(labels)["kind"] == "metrics")
    check([v for _, v in page_buckets] == sorted(v for _, v in page_buckets), "cumulative buckets")
    check(page_buckets[-1][1] == value(values, "kestrova_http_request_duration_seconds_count", kind="metrics"),
          "+Inf bucket is the count")


def check_faults(setup):
    setup.ctl("fail", "drive", "alpha", "3")
    setup.ctl("set", "battery", "alpha", "A", "40")
    setup.ctl("set", "temperature", "alpha", "B", "0", "55")
    setup.ctl("fail", "controller", "beta", "B")

    def faults_seen(values):
        return (value(values, "kestrova_drive_status", pair=ALPHA, drive="3", drive_id="3", enclosure="0",
                      slot="3") == 1
                and value(values, "kestrova_pair_info", pair=ALPHA, name="alpha", wwn=ALPHA[5:]) == 1
                and value(values, "kestrova_drives", pair=ALPHA, status="failed") == 1
                and value(values, "kestrova_array_fault_status", pair=ALPHA, array="0", name="finance") in (0, 1)
                and value(values, "kestrova_controller_battery_charge_percent", pair=ALPHA, controller="A") == 40
                and value(values, "kestrova_controller_temperature_celsius", pair=ALPHA, controller="B",
                          sensor="air") == 55
                and value(values, "kestrova_controller_up", pair=BETA, controller="B") == 0)

    values = wait_for(setup, faults_seen, "the injected faults in the metrics")
    # A failed controller reports no battery or temperature of its own.
    check((("kestrova_controller_battery_charge_percent", frozenset({"pair": BETA, "controller": "B"}.items()))
           not in values), "no battery for a failed controller")

    # With both controllers down the pair cannot be read: only that is reported for it.
    setup.ctl("fail", "controller", "beta", "A")
    values = wait_for(setup, lambda v: value(v, "kestrova_pair_readable", pair=BETA) == 0, "beta unreadable")
    check(not any(dict(labels).get("pair") == BETA for (name, labels) in values
                  if name not in ("kestrova_pair_readable", "kestrova_pair_solution_status")),
          "an unreadable pair reports nothing else")
    check(value(values, "kestrova_pair_readable", pair=ALPHA) == 1, "alpha still readable")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    args = parser.parse_args()
    setup = SetUp(os.path.abspath(args.build), os.path.abspath(args.source))
    try:
        deadline = time.time() + 30
        while setup.fetch("/metrics", login=None)[0] == 0 and time.time() < deadline:
            time.sleep(0.1)
        check(setup.fetch("/metrics", login=None)[0] == 401, "metrics need the login")
        wait_for(setup, lambda v: value(v, "kestrova_pair_readable", pair=ALPHA) == 1
                 and value(v, "kestrova_pair_readable", pair=BETA) == 1, "both pairs", timeout=120)
        check_healthy_page(setup)
        check_faults(setup)
    except Failure as failure:
        print("FAILED:", failure)
        with open(os.path.join(setup.folder, "programs.log"), "rb") as log:
            sys.stdout.write(log.read()[-4000:].decode(errors="replace"))
        setup.stop()
        return 1
    except BaseException:
        setup.stop()
        raise
    unclean = setup.stop()
    if unclean:
        print("FAILED:", "\n".join(unclean))
        return 1
    print("metrics test passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
