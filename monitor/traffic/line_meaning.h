#pragma once
// What a traffic line means, in words, from busproto's decoders: the length class of the
// opcode, the kind and payload of an IPL message, the fields of a device message, and the time
// since the line before when both carry a time stamp. Used for the list's tooltips and the
// lines' accessible descriptions.

#include "monitor/traffic/traffic_line.h"

#include <string>

// Lines of text separated by '\n'. `previous` is the line shown before it, or null.
std::string LineMeaning(const TrafficLine& line, const TrafficLine* previous);
