// The page token: a secret value per login that the server hands to every page a browser shows,
// and that a browser's request must carry before the server lets it change anything. Another web
// site can make a logged-in browser send requests (the browser adds the cached Basic
// credentials), but it cannot read this server's pages, so it cannot know the token.
//
// token = first 24 bytes, as hexadecimal, of HMAC-SHA256(key, "kestrova page token", user name,
// the user's line of db/password.web). The key is 32 random bytes kept in db/pagetoken.key
// (mode 0600), made on first use; so a token stays valid across restarts and ends with a
// password change (or when the key file is removed).
//
// Thread safety: any thread; the key and the cached password line are guarded by an internal
// lock. setPageTokenPaths is for tests and is called while no request runs.
#pragma once

#include <string>
#include <string_view>

inline constexpr size_t kPageTokenLength = 48;

// The token of user (empty text when no key could be had).
std::string pageTokenFor(std::string_view user);
// True when token is the token of user (compared in constant time).
bool pageTokenMatches(std::string_view user, std::string_view token);

// Test seam: the key file and the password file (defaults "db/pagetoken.key" and
// "db/password.web", relative to the working folder). Forgets the key and the cache.
void setPageTokenPaths(const std::string& keyFile, const std::string& passwordFile);
