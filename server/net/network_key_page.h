// The network key settings page: GetNetworkKeyConfig shows whether a site key is set and the ids
// of the keys, never a key ("NetworkKeyFile", "NetworkKeyUnusable", "NetworkKeySet",
// "SecondKeySet", "SendKeyId", "SecondKeyId", "version"); SetNetworkKeyConfig changes them. Both
// are server methods.
//
// SetNetworkKeyConfig request: "version" (the page's edit counter, which must match the stored
// one), "KeyAction" ("set", "add", "switch", "drop" or "clear", see network_key.h), for "set"
// and "add" the key text twice ("NetworkKey", "NetworkKeyConfirm"), and for every action the
// administrator password ("Password"), since a changed key decides which servers this server
// listens to. A change is written to db/network.key and used at once; the reply is the page with
// the command result "CmdSetNetworkKey" (failure details: "MissingParams", "OldVersionMsg",
// "PasswordNoOpen", "PasswordNotValid", "NetworkKeyMismatch", "NetworkKeyTooShort",
// "NetworkKeyTooLong", "NetworkKeyInvalid", "NoNetworkKey", "NoSecondKey", "SameNetworkKey",
// "NetworkKeyNoSave").
//
// Thread safety: any request thread; changes are serialized by a lock of their own.
#pragma once

#include "common/variable_table.h"

// Server methods: take the request (borrowed), return a new reply that the caller frees.
VariableTable GetNetworkKeyConfig(VariableTable request);
VariableTable SetNetworkKeyConfig(VariableTable request);
