// What the front end adds to every page it renders for a browser, so that no template has to
// know about it:
//
// - the page token the server handed out with the reply ("AntiForgeryToken"): a hidden field
//   "AntiForgeryToken" in every form that posts, and <meta name="kestrova-page-token"> in the
//   head, from which /js/kestrova.js adds the header X-Kestrova-Token to the page's own POST
//   requests (fetch, XMLHttpRequest);
// - while the administrator password is still the installed default, a banner at the top of the
//   page that asks to change it, with a button to the password page.
//
// Pages for requests without browser markers (qcli, scripts) get no token and stay as rendered.
//
// Thread safety: pure functions.
#pragma once

#include <string>
#include <string_view>

inline constexpr char kPageTokenField[] = "AntiForgeryToken";
inline constexpr char kPageTokenMeta[] = "kestrova-page-token";

// Puts the token into every <form> whose method is post (any case, quoted or not) and into the
// head. A token that is not plain hexadecimal is not used.
std::string withPageToken(std::string_view html, std::string_view token);

// Puts the default-password banner right after the opening <body> tag.
std::string withDefaultPasswordBanner(std::string_view html);
