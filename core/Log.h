#pragma once
// The programs' log: one line on standard error after the time of day ("14:35:02.417 ..."), for
// every change of the outputs, every loss and recovery, every file read again. Journald and a
// terminal both keep it as it comes.

#include <QString>

#include <cstdint>

void LogLine(const QString& line);
// The outputs a word turns on, as the log names them ("D0 D2", "todas apagadas").
QString WordText(std::uint8_t word);
