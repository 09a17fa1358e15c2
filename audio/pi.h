#pragma once

// Spelled out: M_PI is not standard C++, and the Windows C libraries give it
// only when asked.
constexpr double kPi = 3.14159265358979323846;
