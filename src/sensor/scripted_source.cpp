// SPDX-License-Identifier: GPL-3.0-or-later

#include "scripted_source.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <limits>

namespace {
// Qt reads a number only up to a NUL, so "5\0junk" would pass for 5; a word
// holding a NUL is never a number.
std::optional<int32_t> parseCode(const QString& word) {
    bool ok = false;
    const qlonglong value = word.toLongLong(&ok, 10);
    if (!ok || word.contains(QChar::Null) || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return int32_t(value);
}

std::optional<uint32_t> parseAxis(const QString& word) {
    bool ok = false;
    const uint value = word.toUInt(&ok, 10);
    if (!ok || value > 65535 || word.startsWith(QLatin1Char('+')) || word.contains(QChar::Null))
        return std::nullopt;
    return uint32_t(value);
}

// A word of the file as an error message shows it: at most its first
// quotedLength characters, then "…"; control characters and NULs escaped, so
// that the file can neither drive the terminal the message is printed on nor
// cut the message short, nor flood it.
constexpr int quotedLength = 40;
QString printable(const QString& word) {
    int end = 0; // a character outside the BMP counts as one, and is never split
    for (int n = 0; n < quotedLength && end < word.size(); ++n)
        end += word[end].isHighSurrogate() && end + 1 < word.size() ? 2 : 1;
    QString shown;
    for (const QChar ch : QStringView(word).left(end)) {
        if (ch == QChar::Null)
            shown += QLatin1String("\\0");
        else if (ch == QLatin1Char('\\'))
            shown += QLatin1String("\\\\");
        else if (ch.category() == QChar::Other_Control)
            shown += QStringLiteral("\\x%1").arg(ch.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += ch;
    }
    if (end < word.size())
        shown += QChar(0x2026);
    return shown;
}
} // namespace

ScriptedSource::ScriptedSource(std::vector<Read> reads, int32_t probeCode)
    : reads_(std::move(reads)), probeCode_(probeCode) {}

std::optional<ScriptedSource> ScriptedSource::parse(const QString& text, QString* error) {
    std::vector<Read> reads;
    int32_t probeCode = 0;
    bool sawEntry = false;
    // CR LF, LF and a lone CR all end a line.
    const QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    for (int i = 0; i < lines.size(); ++i) {
        const auto fail = [&](const QString& what) {
            if (error)
                *error = QString::number(i + 1) + QLatin1String(": ") + what;
            return std::nullopt;
        };
        QString line = lines[i];
        const int hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            line.truncate(hash);
        const QStringList words =
            line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;

        if (words[0] == QLatin1String("probe")) {
            if (sawEntry)
                return fail(reads.empty() ? QStringLiteral("a second probe entry")
                                          : QStringLiteral("probe entry after a read"));
            if (words.size() != 2)
                return fail(QStringLiteral("expected: probe CODE"));
            const auto code = parseCode(words[1]);
            if (!code)
                return fail(QStringLiteral("probe code is not a whole number: ") +
                            printable(words[1]));
            probeCode = *code;
            sawEntry = true;
            continue;
        }

        const auto code = parseCode(words[0]);
        if (!code)
            return fail(QStringLiteral("unknown entry: ") + printable(words[0]));
        if (words.size() == 1) {
            reads.push_back({*code, std::nullopt, std::nullopt});
        } else if (words.size() == 3) {
            const auto x = parseAxis(words[1]);
            const auto y = parseAxis(words[2]);
            if (!x || !y)
                return fail(QStringLiteral("axis value must be a whole number from 0 to 65535: ") +
                            printable(words[x ? 2 : 1]));
            reads.push_back({*code, x, y});
        } else {
            return fail(QStringLiteral("expected: CODE or CODE X Y"));
        }
        sawEntry = true;
    }
    return ScriptedSource(std::move(reads), probeCode);
}

std::optional<ScriptedSource> ScriptedSource::fromFile(const QString& path, QString* error) {
    const auto fail = [&](const QString& what) {
        if (error)
            *error = path + what;
        return std::nullopt;
    };
    // Looked at before it is opened: opening a FIFO would wait for a writer,
    // and a device such as /dev/zero never ends.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral(": not a regular file"));
    const QString tooLarge = QStringLiteral(": larger than %1 MB").arg(maxFileSize >> 20);
    if (info.size() > maxFileSize)
        return fail(tooLarge);
    QFile file(path);
    // Not QIODevice::Text: it would delete a lone CR instead of ending the line.
    if (!file.open(QIODevice::ReadOnly))
        return fail(QLatin1String(":0: cannot open: ") + file.errorString());
    const QByteArray bytes = file.read(maxFileSize + 1); // it may have grown since
    if (bytes.size() > maxFileSize)
        return fail(tooLarge);
    QString lineError;
    auto source = parse(QString::fromUtf8(bytes), &lineError);
    if (!source && error)
        *error = path + QLatin1Char(':') + lineError;
    return source;
}

int32_t ScriptedSource::probeDevice() {
    return probeCode_;
}

int32_t ScriptedSource::readAxes(PortReading& reading) {
    if (reads_.empty())
        return PortCode::Ok; // nothing scripted: a read that succeeds and writes nothing
    const size_t index = std::min(size_t(readsDone_), reads_.size() - 1);
    if (readsDone_ < std::numeric_limits<int>::max())
        ++readsDone_;
    const Read& read = reads_[index];
    if (read.x && read.y) {
        reading.x = *read.x;
        reading.y = *read.y;
    }
    return read.code;
}
