#pragma once

#include <QString>

// "hh:mm:ss" of a number of seconds, truncated to whole seconds; the hours
// grow beyond two digits when needed (360000 s -> "100:00:00").
QString formatDuration(double seconds);
