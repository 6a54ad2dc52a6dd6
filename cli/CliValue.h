#pragma once

// An ordered tree of values: what every subcommand builds before printing it, as JSON (keys in
// the order they were added, so the documented layout is also the printed one) or as indented
// text for people.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// A table of numbers kept as its raw values (a CLUT's nodes): printed like an array of rows of
// numbers, without a tree node per number, so that a 33⁴ table stays small in memory.
struct CliRows {
    std::size_t columns = 0;
    std::vector<std::uint16_t> words;  // integers, when not empty
    std::vector<float> floats;         // else numbers
    std::size_t rows() const { return columns ? (words.empty() ? floats.size() : words.size()) / columns : 0; }
};

class CliValue {
public:
    enum class Kind { Null, Bool, Integer, Number, String, Array, Object, Rows };

    CliValue() = default;
    CliValue(std::nullptr_t) {}
    CliValue(bool b) : kind_(Kind::Bool), integer_(b ? 1 : 0) {}
    CliValue(int v) : kind_(Kind::Integer), integer_(v) {}
    CliValue(unsigned v) : kind_(Kind::Integer), integer_(v) {}
    CliValue(long v) : kind_(Kind::Integer), integer_(v) {}
    CliValue(unsigned long v) : kind_(Kind::Integer), integer_(std::int64_t(v)) {}
    CliValue(long long v) : kind_(Kind::Integer), integer_(v) {}
    CliValue(unsigned long long v) : kind_(Kind::Integer), integer_(std::int64_t(v)) {}
    CliValue(double v) : kind_(Kind::Number), number_(v) {}
    CliValue(const QString& s) : kind_(Kind::String), string_(s) {}
    CliValue(const char* s) : kind_(Kind::String), string_(QString::fromUtf8(s)) {}

    static CliValue array() { CliValue v; v.kind_ = Kind::Array; return v; }
    static CliValue object() { CliValue v; v.kind_ = Kind::Object; return v; }
    // An array of `count` numbers (an L*a*b* triple, device values).
    static CliValue numbers(const double* values, int count)
    {
        CliValue v = array();
        for (int i = 0; i < count; ++i)
            v.append(values[i]);
        return v;
    }
    static CliValue rows(std::shared_ptr<const CliRows> rows) { CliValue v; v.kind_ = Kind::Rows; v.rows_ = std::move(rows); return v; }

    // While one lives, long tables hand what is printed so far to `spill` (which empties the
    // buffer) every few thousand rows, so output streams instead of piling up.
    class Spill {
    public:
        explicit Spill(std::function<void(QByteArray&)> spill);
        ~Spill();
        Spill(const Spill&) = delete;
        Spill& operator=(const Spill&) = delete;
    };

    Kind kind() const { return kind_; }
    bool isScalar() const { return kind_ != Kind::Array && kind_ != Kind::Object && kind_ != Kind::Rows; }
    bool isNull() const { return kind_ == Kind::Null; }
    bool isTrue() const { return kind_ == Kind::Bool && integer_ != 0; }
    std::int64_t integer() const { return integer_; }

    // Objects: appends (or replaces) a member, keeping first-insertion order.
    CliValue& set(const QString& key, CliValue value);
    const CliValue* find(const QString& key) const;
    // Arrays: appends an element.
    CliValue& append(CliValue value);

    std::size_t size() const
    {
        return kind_ == Kind::Rows ? (rows_ ? rows_->rows() : 0) : kind_ == Kind::Array ? items_.size() : members_.size();
    }
    const std::vector<CliValue>& items() const { return items_; }
    const std::vector<std::pair<QString, CliValue>>& members() const { return members_; }

    // Compact-number JSON with two-space indentation; non-finite numbers become null.
    QByteArray toJson() const;
    // "key: value" lines, nested objects indented by two spaces, arrays of numbers on one line.
    QByteArray toText() const;

    // The scalar as people read it (numbers with up to 8 significant digits).
    QString scalarText() const;

private:
    void writeJson(QByteArray& out, int indent) const;
    // `markers`: list-item markers ("- ") still owed to the first line, written into its indent.
    void writeText(QByteArray& out, int indent, int markers = 0) const;

    Kind kind_ = Kind::Null;
    std::int64_t integer_ = 0;
    double number_ = 0.0;
    QString string_;
    std::vector<CliValue> items_;
    std::vector<std::pair<QString, CliValue>> members_;
    std::shared_ptr<const CliRows> rows_;
};

// Helpers for common shapes.
CliValue numberArray(const double* values, std::size_t count);
CliValue xyzValue(double X, double Y, double Z);
