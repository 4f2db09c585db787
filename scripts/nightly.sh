#!/usr/bin/env bash
# The nightly run: the sanitizer passes that do not fit CI's 90 minutes on 2 cores (their cold
# builds alone take most of it), run once a day on main:
#   1. the asan preset (AddressSanitizer + UBSan), the whole suite but the labels that mostly wait
#      on other programs (soak, vm, browser, systemd), as scripts/test.sh --sanitizers;
#   2. the tsan preset (ThreadSanitizer) over the unit tests (label "unit", target unit_tests):
#      the system tests' many processes and timeouts would mostly measure the sanitizer's slowness.
# A race report stops its test (halt_on_error, CMakePresets.json); known false reports are
# suppressed, each with its reason, in cmake/tsan.supp.
# Usage: scripts/nightly.sh        (build folders build-asan/ and build-tsan/)
exec bash "$(dirname "$0")/test.sh" --nightly
