#include "SystemLocale.h"

#include <QLocale>

namespace vrax {

int LocaleId(const QLocale& locale) {
    struct Entry {
        QLocale::Language language;
        QLocale::Territory territory;
        int id;
    };
    static constexpr Entry Known[] = {
        {QLocale::Chinese, QLocale::China, LocaleChinesePrc},
        {QLocale::Chinese, QLocale::Taiwan, 1028},
        {QLocale::Chinese, QLocale::HongKong, 3076},
        {QLocale::Chinese, QLocale::Singapore, 4100},
        {QLocale::Chinese, QLocale::Macao, 5124},
        {QLocale::English, QLocale::UnitedStates, 1033},
        {QLocale::English, QLocale::UnitedKingdom, 2057},
        {QLocale::German, QLocale::Germany, 1031},
        {QLocale::Japanese, QLocale::Japan, 1041},
        {QLocale::Korean, QLocale::SouthKorea, 1042},
    };
    for (const Entry& entry : Known) {
        if (locale.language() == entry.language && locale.territory() == entry.territory) {
            return entry.id;
        }
    }
    return 0;
}

int SystemThreadLocale() {
    return LocaleId(QLocale::system());
}

} // namespace vrax
