#pragma once

#include <QString>

// File name of the renderer executable.
inline constexpr char kRendererName[] = "Vistrel";

// The renderer beside the front end, else in one of the two build folders
// next to it. The cleaned path of the first one that exists; when none does,
// the one beside the front end (which the caller then reports as missing).
QString locateRenderer(const QString& programDir);
