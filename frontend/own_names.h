// The names and addresses under which this machine may be reached: the addresses of its network
// interfaces (IPv4 dotted, IPv6 as text without a zone), its host name with its short and its
// canonical (fully qualified) form, and "localhost". The one place that asks the platform; the
// request guard (request_guard.h) checks a request's Host against them.
//
// Thread safety: any thread; no state is kept.
#pragma once

#include <string>
#include <vector>

// Lower-case texts, without duplicates. Empty when nothing can be read.
std::vector<std::string> ownHostNames();

// The platform half: the addresses of the network interfaces as the system writes them (IPv6
// without a zone), in any case and order, possibly repeated. Empty when they cannot be read.
std::vector<std::string> interfaceAddressTexts();
