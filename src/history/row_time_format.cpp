// SPDX-License-Identifier: GPL-3.0-or-later
#include "row_time_format.h"

#include "logging/csv_log.h"

#include <QSet>
#include <array>
#include <cstring>

namespace {

// The length of the blank (space, tab, no-break or narrow space) at text, 0 when none.
int blankAt(const char* text, int size) {
    const auto* u = reinterpret_cast<const unsigned char*>(text);
    if (size >= 1 && (u[0] == ' ' || u[0] == '\t'))
        return 1;
    if (size >= 2 && u[0] == 0xC2 && u[1] == 0xA0) // U+00A0
        return 2;
    if (size >= 3 && u[0] == 0xE2 && u[1] == 0x80 &&
        (u[2] == 0xAF || u[2] == 0x89)) // U+202F, U+2009
        return 3;
    return 0;
}

// A word as written, in capitals and in small letters, UTF-8.
std::vector<QByteArray> spellings(const QString& word) {
    return {word.toUtf8(), word.toUpper().toUtf8(), word.toLower().toUtf8()};
}

// The length of the spelling of a word that text starts with, 0 when none.
int wordAt(const char* text, int size, const std::vector<QByteArray>& spellings) {
    for (const QByteArray& word : spellings)
        if (!word.isEmpty() && size >= word.size() &&
            qstrnicmp(text, word.constData(), word.size()) == 0)
            return int(word.size());
    return 0;
}

// The length of the digit at text, ASCII or one of the locale's own; adds it to value.
int digitAt(const char* text, int size, const std::vector<QByteArray>& own, int* value) {
    if (text[0] >= '0' && text[0] <= '9') {
        *value = *value * 10 + (text[0] - '0');
        return 1;
    }
    for (int d = 0; d < int(own.size()); ++d) {
        const QByteArray& digit = own[d];
        if (size >= digit.size() && memcmp(text, digit.constData(), digit.size()) == 0) {
            *value = *value * 10 + d;
            return int(digit.size());
        }
    }
    return 0;
}

QString twoDigitYear(QString format) {
    format.replace(QLatin1String("yyyy"), QLatin1String("yy"));
    return format;
}

} // namespace

RowTimeFormat::RowTimeFormat(const QLocale& locale, const QString& dateFormat,
                             const QString& timeFormat)
    : locale_(locale), dateFormat_(dateFormat), timeFormat_(timeFormat),
      twoDigitYear_(!dateFormat.contains(QLatin1String("yyyy"))), am_(spellings(locale.amText())),
      pm_(spellings(locale.pmText())) {
    zero_ = locale.zeroDigit().toUcs4().value(0, U'0');
    for (char32_t d = 0; zero_ != U'0' && d < 10; ++d)
        digits_.push_back(QString::fromUcs4(std::array<char32_t, 1>{zero_ + d}.data(), 1).toUtf8());
    compileTime();
}

std::vector<RowTimeFormat> RowTimeFormat::forLocale(const QLocale& locale) {
    // What the log writes, and what it wrote before it wrote four-digit years.
    const QString time = CsvLog::timeFormat(locale);
    return {RowTimeFormat(locale, twoDigitYear(locale.dateFormat(QLocale::ShortFormat)), time),
            RowTimeFormat(locale, CsvLog::dateFormat(locale), time)};
}

std::vector<RowTimeFormat> RowTimeFormat::candidates(const QLocale& first) {
    QList<QLocale> locales{first, QLocale(QLocale::English, QLocale::UnitedStates)};
    locales +=
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    std::vector<RowTimeFormat> all;
    QSet<QString> seen;
    for (const QLocale& locale : locales) {
        for (RowTimeFormat& format : forLocale(locale)) {
            // Month names and AM/PM texts differ between locales of one format.
            const QString key =
                QStringList{
                    format.dateFormat_, format.timeFormat_, locale.amText(), locale.pmText(),
                    format.dateFormat_.contains(QLatin1String("MMM")) ? locale.name() : QString()}
                    .join(QChar(0));
            if (!seen.contains(key)) {
                seen.insert(key);
                all.push_back(std::move(format));
            }
        }
    }
    return all;
}

std::optional<QDate> RowTimeFormat::date(const QString& text) const {
    // The locale's own digits as 0 to 9: not every locale reads its own back.
    QString ascii = text;
    if (zero_ != U'0') {
        QList<uint> letters = text.toUcs4();
        for (uint& c : letters)
            if (c >= zero_ && c < zero_ + 10)
                c = U'0' + (c - zero_);
        ascii = QString::fromUcs4(reinterpret_cast<const char32_t*>(letters.constData()),
                                  letters.size());
    }
    QDate date = locale_.toDate(ascii, dateFormat_);
    if (!date.isValid())
        return std::nullopt;
    if (twoDigitYear_)
        date = date.addYears(2000 - 1900); // the locale reads 26 as 1926
    if (date.year() < 1970 || date.year() > 2199)
        return std::nullopt;
    return date;
}

void RowTimeFormat::compileTime() {
    const QString& f = timeFormat_;
    bool amPm = false, lowerHour = false;
    auto literal = [this](const QString& text) {
        if (tokens_.empty() || tokens_.back().kind != Token::Literal)
            tokens_.push_back({Token::Literal, 0, 0, {}});
        tokens_.back().text += text.toUtf8();
    };
    for (int i = 0; i < f.size();) {
        const QChar c = f.at(i);
        int repeat = 1;
        while (i + repeat < f.size() && f.at(i + repeat) == c)
            ++repeat;
        if (c == QLatin1Char('h') || c == QLatin1Char('H') || c == QLatin1Char('m') ||
            c == QLatin1Char('s')) {
            const int used = qMin(repeat, 2);
            const Token::Kind kind = c == QLatin1Char('m')   ? Token::Minute
                                     : c == QLatin1Char('s') ? Token::Second
                                                             : Token::Hour;
            tokens_.push_back({kind, used, 2, {}});
            lowerHour = lowerHour || c == QLatin1Char('h');
            i += used;
        } else if (c == QLatin1Char('z')) {
            const int used = repeat >= 3 ? 3 : 1;
            tokens_.push_back({Token::Msec, used, 3, {}});
            i += used;
        } else if (c == QLatin1Char('a') || c == QLatin1Char('A')) {
            const bool pair = i + 1 < f.size() && f.at(i + 1).toLower() == QLatin1Char('p');
            tokens_.push_back({Token::AmPm, 0, 0, {}});
            amPm = true;
            i += pair ? 2 : 1;
        } else if (c == QLatin1Char('\'')) {
            // Quoted text; two quotes stand for one.
            QString text;
            ++i;
            while (i < f.size()) {
                if (f.at(i) == QLatin1Char('\'')) {
                    if (i + 1 < f.size() && f.at(i + 1) == QLatin1Char('\'')) {
                        text += QLatin1Char('\'');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                text += f.at(i++);
            }
            if (repeat == 2 && text.isEmpty())
                text = QStringLiteral("'");
            literal(text);
        } else if (c.isSpace()) {
            if (tokens_.empty() || tokens_.back().kind != Token::Space)
                tokens_.push_back({Token::Space, 0, 0, {}});
            ++i;
        } else {
            literal(QString(c));
            ++i;
        }
    }
    // h is the hour of a 12-hour clock when the format has AM/PM; H is always 0 to 23.
    twelveHour_ = amPm && lowerHour;
}

int RowTimeFormat::msecsOfDay(const char* text, int size) const {
    int hour = -1, minute = 0, second = 0, msec = 0;
    int pm = -1; // not given
    int at = 0;
    auto skipBlanks = [&] {
        for (int n; (n = blankAt(text + at, size - at)) > 0;)
            at += n;
    };
    skipBlanks();
    for (const Token& token : tokens_) {
        switch (token.kind) {
        case Token::Space:
            skipBlanks();
            break;
        case Token::Literal:
            if (size - at < token.text.size() ||
                memcmp(text + at, token.text.constData(), token.text.size()) != 0)
                return -1;
            at += token.text.size();
            break;
        case Token::AmPm:
            if (const int length = wordAt(text + at, size - at, am_)) {
                pm = 0;
                at += length;
            } else if (const int length = wordAt(text + at, size - at, pm_)) {
                pm = 1;
                at += length;
            } else {
                return -1;
            }
            break;
        default: {
            int value = 0, digits = 0;
            while (digits < token.maxDigits && at < size) {
                const int length = digitAt(text + at, size - at, digits_, &value);
                if (length == 0)
                    break;
                at += length;
                ++digits;
            }
            if (digits < token.minDigits || digits == 0)
                return -1;
            if (token.kind == Token::Hour)
                hour = value;
            else if (token.kind == Token::Minute)
                minute = value;
            else if (token.kind == Token::Second)
                second = value;
            else
                msec = value * (digits == 1 ? 100 : digits == 2 ? 10 : 1);
        }
        }
    }
    skipBlanks();
    if (at != size || hour < 0 || minute > 59 || second > 59)
        return -1;
    if (twelveHour_) {
        if (pm < 0 || hour < 1 || hour > 12)
            return -1;
        hour = hour % 12 + 12 * pm;
    } else if (hour > 23) {
        return -1;
    }
    return ((hour * 60 + minute) * 60 + second) * 1000 + msec;
}

namespace {
constexpr qint64 msPerDay = 86'400'000;

int offsetAt(qint64 utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::LocalTime).offsetFromUtc();
}
int offsetAt(QDate date, QTime time) {
    return QDateTime(date, time, Qt::LocalTime).offsetFromUtc();
}
// The date and time as if they were UTC.
qint64 naiveMs(QDate date, int msecsOfDay) {
    return (date.toJulianDay() - QDate(1970, 1, 1).toJulianDay()) * msPerDay + msecsOfDay;
}
} // namespace

qint64 LocalClock::toUtc(QDate date, int msecsOfDay, qint64 notBefore) {
    if (date != day_) {
        day_ = date;
        startOffset_ = offsetAt(date, QTime(0, 0));
        endOffset_ = offsetAt(date, QTime(23, 59, 59));
        if (startOffset_ != endOffset_) {
            // The moment the offset changes, to the second.
            qint64 low = naiveMs(date, 0) - startOffset_ * 1000LL;
            qint64 high = naiveMs(date, msPerDay - 1000) - endOffset_ * 1000LL;
            while (high - low > 1000) {
                const qint64 middle = low + (high - low) / 2000 * 1000;
                (offsetAt(middle) == startOffset_ ? low : high) = middle;
            }
            change_ = high;
        }
    }
    const qint64 naive = naiveMs(date, msecsOfDay);
    const qint64 early = naive - startOffset_ * 1000LL;
    if (startOffset_ == endOffset_)
        return early;
    const qint64 late = naive - endOffset_ * 1000LL;
    const bool earlyFits = early < change_, lateFits = late >= change_;
    if (earlyFits && lateFits) {
        const qint64 first = qMin(early, late), second = qMax(early, late);
        return first >= notBefore ? first : second;
    }
    return lateFits ? late : early;
}

std::pair<QDate, QTime> LocalClock::toLocal(qint64 utcMs) {
    if (utcMs < localFrom_ || utcMs >= localTo_) {
        // One offset for the hour ahead unless it changes within it.
        constexpr qint64 hour = 3'600'000;
        localOffset_ = offsetAt(utcMs);
        localFrom_ = utcMs;
        localTo_ = offsetAt(utcMs + hour) == localOffset_ ? utcMs + hour : utcMs + 1;
    }
    const QDateTime wallClock =
        QDateTime::fromMSecsSinceEpoch(utcMs + localOffset_ * 1000LL, Qt::UTC);
    return {wallClock.date(), wallClock.time()};
}
