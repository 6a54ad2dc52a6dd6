#include "cli/CliValue.h"

#include <QLocale>

#include <cmath>

namespace {

constexpr std::size_t kNumbersPerTextLine = 16;

void appendJsonString(QByteArray& out, const QString& s)
{
    out += '"';
    const QByteArray utf8 = s.toUtf8();
    for (const char c : utf8) {
        const unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (u < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", u);
                out += buf;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

QByteArray jsonNumber(double v)
{
    if (!std::isfinite(v))
        return "null";
    // Shortest text that reads back to the same double.
    return QByteArray::number(v, 'g', QLocale::FloatingPointShortest);
}

void pad(QByteArray& out, int indent)
{
    out.append(QByteArray(indent, ' '));
}

std::function<void(QByteArray&)> g_spill;
constexpr std::size_t kRowsPerSpill = 4096;

QByteArray rowNumber(const CliRows& rows, std::size_t at, bool json)
{
    if (!rows.words.empty())
        return QByteArray::number(rows.words[at]);
    const double v = double(rows.floats[at]);
    if (json)
        return jsonNumber(v);
    return std::isfinite(v) ? QByteArray::number(v, 'g', 8) : QByteArray("nan");
}

// The same text as an array of arrays of numbers: JSON rows "[a, b]" one per line, text rows
// "- a b" (at most kNumbersPerTextLine numbers per line).
void writeRows(QByteArray& out, const CliRows& rows, int indent, bool json)
{
    const std::size_t n = rows.rows();
    if (json)
        out += n ? "[\n" : "[]";
    for (std::size_t r = 0; r < n; ++r) {
        pad(out, indent + (json ? 2 : 0));
        out += json ? "[" : "- ";
        for (std::size_t c = 0; c < rows.columns; ++c) {
            if (c)
                out += json ? ", " : ((c % kNumbersPerTextLine) ? " " : "\n" + QByteArray(indent + 2, ' '));
            out += rowNumber(rows, r * rows.columns + c, json);
        }
        out += json ? (r + 1 < n ? "],\n" : "]\n") : "\n";
        if (g_spill && r % kRowsPerSpill == kRowsPerSpill - 1)
            g_spill(out);
    }
    if (json && n) {
        pad(out, indent);
        out += ']';
    }
}

bool allScalars(const std::vector<CliValue>& items)
{
    for (const CliValue& v : items)
        if (!v.isScalar())
            return false;
    return true;
}

} // namespace

CliValue::Spill::Spill(std::function<void(QByteArray&)> spill)
{
    g_spill = std::move(spill);
}

CliValue::Spill::~Spill()
{
    g_spill = nullptr;
}

CliValue& CliValue::set(const QString& key, CliValue value)
{
    kind_ = Kind::Object;
    for (auto& member : members_) {
        if (member.first == key) {
            member.second = std::move(value);
            return member.second;
        }
    }
    members_.emplace_back(key, std::move(value));
    return members_.back().second;
}

const CliValue* CliValue::find(const QString& key) const
{
    for (const auto& member : members_)
        if (member.first == key)
            return &member.second;
    return nullptr;
}

CliValue& CliValue::append(CliValue value)
{
    kind_ = Kind::Array;
    items_.push_back(std::move(value));
    return items_.back();
}

QString CliValue::scalarText() const
{
    switch (kind_) {
    case Kind::Null: return QStringLiteral("-");
    case Kind::Bool: return integer_ ? QStringLiteral("yes") : QStringLiteral("no");
    case Kind::Integer: return QString::number(integer_);
    case Kind::Number:
        if (!std::isfinite(number_))
            return QStringLiteral("nan");
        return QString::number(number_, 'g', 8);
    case Kind::String: return string_;
    default: return QString();
    }
}

QByteArray CliValue::toJson() const
{
    QByteArray out;
    writeJson(out, 0);
    out += '\n';
    return out;
}

void CliValue::writeJson(QByteArray& out, int indent) const
{
    switch (kind_) {
    case Kind::Null: out += "null"; return;
    case Kind::Bool: out += integer_ ? "true" : "false"; return;
    case Kind::Integer: out += QByteArray::number(qlonglong(integer_)); return;
    case Kind::Number: out += jsonNumber(number_); return;
    case Kind::String: appendJsonString(out, string_); return;
    case Kind::Rows:
        if (rows_)
            writeRows(out, *rows_, indent, true);
        else
            out += "[]";
        return;
    case Kind::Array:
        if (items_.empty()) {
            out += "[]";
            return;
        }
        // Rows of numbers stay on one line: tables and matrices remain readable.
        if (allScalars(items_)) {
            out += '[';
            for (std::size_t i = 0; i < items_.size(); ++i) {
                if (i)
                    out += ", ";
                items_[i].writeJson(out, indent);
            }
            out += ']';
            return;
        }
        out += "[\n";
        for (std::size_t i = 0; i < items_.size(); ++i) {
            pad(out, indent + 2);
            items_[i].writeJson(out, indent + 2);
            out += i + 1 < items_.size() ? ",\n" : "\n";
        }
        pad(out, indent);
        out += ']';
        return;
    case Kind::Object:
        if (members_.empty()) {
            out += "{}";
            return;
        }
        out += "{\n";
        for (std::size_t i = 0; i < members_.size(); ++i) {
            pad(out, indent + 2);
            appendJsonString(out, members_[i].first);
            out += ": ";
            members_[i].second.writeJson(out, indent + 2);
            out += i + 1 < members_.size() ? ",\n" : "\n";
        }
        pad(out, indent);
        out += '}';
        return;
    }
}

QByteArray CliValue::toText() const
{
    QByteArray out;
    if (isScalar()) {
        out += scalarText().toUtf8();
        out += '\n';
    } else {
        writeText(out, 0);
    }
    return out;
}

namespace {

void writeScalarRun(QByteArray& out, const std::vector<CliValue>& items, int indent, bool inlineFirst)
{
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i % kNumbersPerTextLine == 0) {
            if (i || !inlineFirst) {
                out += '\n';
                pad(out, indent);
            }
        } else {
            out += ' ';
        }
        out += items[i].scalarText().toUtf8();
    }
}

// Text labels that differ from the JSON key; an empty label hides a key kept in JSON only under
// an older name.
QString textLabel(const QString& key)
{
    if (key == QLatin1String("iccFunctionType"))
        return QStringLiteral("ICC function type");
    if (key == QLatin1String("iccFunction"))
        return QString();
    return key;
}

void writeStringMember(QByteArray& out, const QString& text, int indent)
{
    if (!text.contains(QLatin1Char('\n'))) {
        out += ' ';
        out += text.toUtf8();
        return;
    }
    // Multi-line text (CGATS, PostScript) as an indented block.
    out += " |";
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        out += '\n';
        pad(out, indent + 2);
        out += line.toUtf8();
    }
}

} // namespace

void CliValue::writeText(QByteArray& out, int indent, int markers) const
{
    // The first line written carries the markers owed by enclosing list items; written straight
    // into `out`, so that text already handed on by a spill is never edited afterwards.
    const auto lead = [&out, &indent, &markers] {
        pad(out, indent - 2 * markers);
        for (; markers > 0; --markers)
            out += "- ";
    };
    if (kind_ == Kind::Object) {
        for (const auto& [key, value] : members_) {
            // Keys that JSON keeps for stable layouts say nothing to people when empty.
            if (value.kind() == Kind::Null)
                continue;
            const QString label = textLabel(key);
            if (label.isEmpty())
                continue;
            lead();
            out += label.toUtf8();
            out += ':';
            if (value.kind() == Kind::String) {
                writeStringMember(out, value.string_, indent);
                out += '\n';
            } else if (value.isScalar()) {
                out += ' ';
                out += value.scalarText().toUtf8();
                out += '\n';
            } else if (value.kind() == Kind::Array && allScalars(value.items_)) {
                if (value.items_.empty()) {
                    out += " (none)\n";
                } else if (value.items_.size() <= kNumbersPerTextLine) {
                    out += ' ';
                    writeScalarRun(out, value.items_, indent + 2, true);
                    out += '\n';
                } else {
                    writeScalarRun(out, value.items_, indent + 2, false);
                    out += '\n';
                }
            } else if (value.size() == 0) {
                out += " (none)\n";
            } else if (value.kind() == Kind::Rows) {
                out += '\n';
                writeRows(out, *value.rows_, indent + 2, false);
            } else {
                out += '\n';
                value.writeText(out, indent + 2);
            }
        }
        return;
    }
    if (kind_ == Kind::Array) {
        for (const CliValue& item : items_) {
            if (item.isScalar()) {
                lead();
                out += "- ";
                out += item.scalarText().toUtf8();
                out += '\n';
            } else if (item.kind() == Kind::Array && allScalars(item.items_)) {
                lead();
                out += "-";
                if (item.items_.empty())
                    out += " (none)";
                else {
                    out += ' ';
                    writeScalarRun(out, item.items_, indent + 2, true);
                }
                out += '\n';
            } else {
                // A nested object or array: its first line carries the item marker.
                item.writeText(out, indent + 2, markers + 1);
                markers = 0;
            }
        }
    }
}

CliValue numberArray(const double* values, std::size_t count)
{
    CliValue a = CliValue::array();
    for (std::size_t i = 0; i < count; ++i)
        a.append(values[i]);
    return a;
}

CliValue xyzValue(double X, double Y, double Z)
{
    CliValue v = CliValue::object();
    v.set(QStringLiteral("X"), X);
    v.set(QStringLiteral("Y"), Y);
    v.set(QStringLiteral("Z"), Z);
    return v;
}
