// Start and stop of the user bookkeeping in the server's life cycle: at network start-up the
// user list is opened, the request handler's admission hooks (user tracking, verification
// password) and the page rows are installed, and the user-session thread
// "initializeKestrovaNetwork/handler_WaitForUserResponse" is started; at network shutdown the
// thread is ended and the list freed without logout events.
//
// The session thread makes one pass of expireSilentUsers (users.h) every 20 seconds while the
// server runs, so a user is logged out 80 to 100 seconds after their last request.
//
// Thread safety: start and stop run only in the life cycle's start-up and shutdown (or a test),
// never concurrently with each other.
#pragma once

// Returns false when the session thread could not be started (the list and hooks are in place
// anyway, users are then never logged out).
bool startUserTracking();
// Ends the session thread (waiting at most about two session steps) and frees the list.
void stopUserTracking();
