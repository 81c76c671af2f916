#pragma once
// The one form of the program's seams to the outside world (the time of day, the file dialogs,
// the error box): a scoped override. It puts a stand-in in place while it lives and, when it is
// destroyed, puts back the value it found, however its scope ends (normally, by return or by an
// exception), so a test that fails part-way leaves no seam set for the next one. Overrides of
// one place nest: each ends before the one it replaced, as scopes do.
//
// A seam declares a class of its own on top of this one (TScopedLocalTimeOfDay,
// TScopedFileDialogRunner, TScopedExceptionReporter) and keeps its place out of reach.

#include <utility>

template <class T> class TScopedOverride
{
public:
    TScopedOverride(T& place, T value)
        : FPlace(place), FPrevious(std::exchange(place, std::move(value)))
    {
    }
    ~TScopedOverride() { FPlace = std::move(FPrevious); }

    TScopedOverride(const TScopedOverride&) = delete;
    TScopedOverride& operator=(const TScopedOverride&) = delete;
    TScopedOverride(TScopedOverride&&) = delete;
    TScopedOverride& operator=(TScopedOverride&&) = delete;

private:
    T& FPlace;
    T FPrevious;
};
