// The login a fresh installation ships with (db/password.web of the source tree): the server
// warns at every start while it is still in use, and the front end shows a banner on every page.
//
// Thread safety: constants.
#pragma once

inline constexpr char kDefaultLoginUser[] = "admin";
inline constexpr char kDefaultLoginPassword[] = "pinecone";
