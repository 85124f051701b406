#pragma once
// The string table: user-visible texts by number, added by each program at start-up.
//
//   platform::AddStrings({{61205, "Ready"}, {61206, "COM Port Failed"}});
//   label->setText(platform::LoadString(61205));
//
// Number 57345 holds the frame's idle text "Ready" from the start.

#include <QString>
#include <initializer_list>
#include <utility>

namespace platform {

inline constexpr int IdsIdleMessage = 57345;

void AddStrings(std::initializer_list<std::pair<int, QString>> strings);
// The text of the number; empty when there is none.
QString LoadString(int id);
bool HasString(int id);

} // namespace platform
