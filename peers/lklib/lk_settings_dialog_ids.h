#pragma once
// What a program driving LKConfig's Windows dialog finds it by: its title,
// and the field of each setting, numbered in the order of settingTable().

namespace kvt::lk {

inline constexpr wchar_t kSettingsDialogTitle[] = L"Opzioni del connettore LK";
inline constexpr int kSettingsDialogFirstField = 1000;

}  // namespace kvt::lk
