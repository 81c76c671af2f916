#pragma once
// Where the programs keep what is not the user's documents, as the XDG base directories say.

#include <QString>

// The user's runtime folder ($XDG_RUNTIME_DIR; without it, a private folder that Qt makes under
// /tmp): the targets' locks and the running timer's socket.
QString RuntimeFolder();
// PrVardo's folder in the user's state folder ($XDG_STATE_HOME, or ~/.local/state): what the
// timer keeps between runs.
QString StateFolder();
