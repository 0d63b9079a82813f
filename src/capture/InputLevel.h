#pragma once

namespace velvox {

// The level shown for an input power, from 0 to 1: -55 dB and anything quieter
// is 0, 0 dB and above is 1, and the curve in between (power 1.6) spreads
// speech over the range. Not-a-number and infinite powers show as 0.
double inputLevel(double decibels);

}  // namespace velvox
