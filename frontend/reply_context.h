// The mustache context of a page: the reply tree (reply_tree.h) as kainjow data, following the
// template contract of frontend/README.md: every key a text, lists as lists of row objects with
// "index", "<List>_count", "<Key>_bool", and false texts that render no section.
//
// Thread safety: pure functions over values.
#pragma once

#include <kainjow/mustache.hpp>

#include "frontend/reply_tree.h"

kainjow::mustache::data mustacheContextOf(const ReplyNode& node);
