#include "UiLanguage.h"

int ChooseUiLanguage(uint32_t languageOption, QLocale::Language systemLanguage) {
    switch (languageOption) {
    case 1:
        return UI_LANGUAGE_KOREAN;
    case 2:
        return UI_LANGUAGE_ENGLISH;
    case 3:
        return UI_LANGUAGE_CHINESE;
    default:
        break;
    }
    switch (systemLanguage) {
    case QLocale::Korean:
        return UI_LANGUAGE_KOREAN;
    case QLocale::Chinese:
        return UI_LANGUAGE_CHINESE;
    default:
        return UI_LANGUAGE_ENGLISH;
    }
}
