// The one table the benchmarks print: one row per operation, one column per
// size, the growth from the smallest to the largest size, and the budget at
// the largest size with whether it is met.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace Bench {

struct Figure
{
    double value = 0.0;
    int runs = 0;              // how many runs the median is over
    bool extrapolated = false; // estimated from part of the work
    bool failed = false;       // the check after the operation did not hold
};

enum class Unit { Ms, PerSecond, MBps, MB, Times };

struct Budget
{
    QString text;
    std::function<bool(double)> met;
};

class Report
{
public:
    // The size at which budgets are judged.
    static constexpr int BudgetSize = 32767;

    explicit Report(std::vector<int> sizes);

    const std::vector<int> &sizes() const { return m_sizes; }

    // Rows print in the order they are defined. growth: show the ratio of
    // the largest to the smallest size (for times that should grow with n).
    void define(const QString &key, const QString &label, Unit unit, bool growth,
                std::optional<Budget> budget = std::nullopt);
    // A heading row.
    void heading(const QString &label);

    void set(const QString &key, int size, const Figure &figure);
    std::optional<Figure> get(const QString &key, int size) const;
    // Sets key at every size where both are known to a / b.
    void setRatio(const QString &key, const QString &a, const QString &b);

    void note(const QString &text);

    // The title lines, the table in Markdown and the notes.
    QString render(const QString &title) const;

    // Budgets judged at BudgetSize: met, missed, not measured.
    struct Verdicts
    {
        QStringList met;
        QStringList missed;
        QStringList unmeasured;
    };
    Verdicts verdicts() const;

private:
    struct Row
    {
        QString key;
        QString label;
        Unit unit = Unit::Ms;
        bool growth = false;
        bool isHeading = false;
        std::optional<Budget> budget;
    };

    QString format(const Row &row, const Figure &figure) const;

    std::vector<int> m_sizes;
    std::vector<Row> m_rows;
    std::map<std::pair<QString, int>, Figure> m_figures;
    QStringList m_notes;
};

// "32,767"
QString grouped(qint64 value);

} // namespace Bench
