#pragma once

#include <QLocale>
#include <cstdint>

// Language ids of the user interface.
constexpr int UI_LANGUAGE_KOREAN = 1042;
constexpr int UI_LANGUAGE_ENGLISH = 1033;
constexpr int UI_LANGUAGE_CHINESE = 2052;

// The interface language from the "LANGUAGE" option (1 Korean, 2 English, 3 Chinese); any other value
// follows the system's language, and a system language other than these three gives English.
int ChooseUiLanguage(uint32_t languageOption, QLocale::Language systemLanguage);
