#pragma once
// Where prvardo-timer keeps its holds between runs: a file in the user's state folder
// ($XDG_STATE_HOME, or ~/.local/state), one hold a line, written whole at every change.

#include "week/SchoolWeek.h"

#include <QString>

#include <vector>

// Where the holds are kept.
QString HoldsPath();

class THoldsStore
{
public:
    // The holds kept by the last run; none, with a line in the log, when the file cannot be
    // read whole. A line that does not read is left out, and said once.
    std::vector<THold> Read() const;
    // Keeps the holds for the next run. A failure is said once for each cause, until a save
    // works again.
    void Save(const std::vector<THold>& holds);

private:
    QString FUnsaved; // why the last save failed; empty when it worked
};
