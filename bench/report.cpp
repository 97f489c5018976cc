#include "report.h"

#include <algorithm>

namespace Bench {

QString grouped(qint64 value)
{
    QString digits = QString::number(value < 0 ? -value : value);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u',');
    return value < 0 ? u'-' + digits : digits;
}

Report::Report(std::vector<int> sizes)
    : m_sizes(std::move(sizes))
{
}

void Report::define(const QString &key, const QString &label, Unit unit, bool growth, std::optional<Budget> budget)
{
    m_rows.push_back({key, label, unit, growth, false, std::move(budget)});
}

void Report::heading(const QString &label)
{
    Row row;
    row.label = label;
    row.isHeading = true;
    m_rows.push_back(row);
}

void Report::set(const QString &key, int size, const Figure &figure)
{
    m_figures[{key, size}] = figure;
}

std::optional<Figure> Report::get(const QString &key, int size) const
{
    const auto found = m_figures.find({key, size});
    if (found == m_figures.end())
        return std::nullopt;
    return found->second;
}

void Report::setRatio(const QString &key, const QString &a, const QString &b)
{
    for (int size : m_sizes) {
        const auto x = get(a, size);
        const auto y = get(b, size);
        if (!x || !y || y->value <= 0.0)
            continue;
        Figure ratio;
        ratio.value = x->value / y->value;
        ratio.runs = std::min(x->runs, y->runs);
        ratio.extrapolated = x->extrapolated || y->extrapolated;
        ratio.failed = x->failed || y->failed;
        set(key, size, ratio);
    }
}

void Report::note(const QString &text)
{
    m_notes << text;
}

QString Report::format(const Row &row, const Figure &figure) const
{
    if (figure.failed)
        return QStringLiteral("FAILED");
    const double v = figure.value;
    QString text;
    switch (row.unit) {
    case Unit::Ms:
        if (v >= 10000.0)
            text = QString::number(v / 1000.0, 'f', 1) + QStringLiteral(" s");
        else if (v >= 100.0)
            text = QString::number(v, 'f', 0) + QStringLiteral(" ms");
        else if (v >= 10.0)
            text = QString::number(v, 'f', 1) + QStringLiteral(" ms");
        else if (v >= 1.0)
            text = QString::number(v, 'f', 2) + QStringLiteral(" ms");
        else if (v >= 0.01)
            text = QString::number(v * 1000.0, 'f', 0) + QStringLiteral(" µs");
        else
            text = QString::number(v * 1000.0, 'f', 1) + QStringLiteral(" µs");
        break;
    case Unit::PerSecond: text = grouped(qRound64(v)) + QStringLiteral(" /s"); break;
    case Unit::MBps: text = grouped(qRound64(v)) + QStringLiteral(" MB/s"); break;
    case Unit::MB: text = QString::number(v, 'f', v >= 10.0 ? 1 : 2) + QStringLiteral(" MB"); break;
    case Unit::Times: text = QString::number(v, 'f', v >= 100.0 ? 0 : 1) + QStringLiteral("×"); break;
    }
    if (figure.extrapolated)
        text = u'≈' + text + u'*';
    else if (figure.runs == 1 && row.unit == Unit::Ms)
        text += u'†';
    return text;
}

Report::Verdicts Report::verdicts() const
{
    Verdicts v;
    for (const Row &row : m_rows) {
        if (row.isHeading || !row.budget)
            continue;
        const auto figure = get(row.key, BudgetSize);
        if (!figure || figure->failed)
            v.unmeasured << row.label;
        else if (row.budget->met(figure->value))
            v.met << row.label;
        else
            v.missed << row.label;
    }
    return v;
}

QString Report::render(const QString &title) const
{
    QStringList header{QStringLiteral("operation")};
    for (int size : m_sizes)
        header << grouped(size);
    const bool showGrowth = m_sizes.size() >= 2;
    if (showGrowth)
        header << QStringLiteral("growth %1→%2").arg(grouped(m_sizes.front()), grouped(m_sizes.back()));
    header << QStringLiteral("budget at %1").arg(grouped(BudgetSize)) << QStringLiteral("met");

    std::vector<QStringList> lines;
    lines.push_back(header);
    for (const Row &row : m_rows) {
        QStringList cells;
        if (row.isHeading) {
            cells << QStringLiteral("**%1**").arg(row.label);
            while (cells.size() < header.size())
                cells << QString();
            lines.push_back(cells);
            continue;
        }
        cells << row.label;
        for (int size : m_sizes) {
            const auto figure = get(row.key, size);
            cells << (figure ? format(row, *figure) : QStringLiteral("–"));
        }
        if (showGrowth) {
            const auto first = get(row.key, m_sizes.front());
            const auto last = get(row.key, m_sizes.back());
            if (row.growth && first && last && !first->failed && !last->failed && first->value > 0.0)
                cells << QStringLiteral("×%1").arg(last->value / first->value, 0, 'f', 1);
            else
                cells << QString();
        }
        if (row.budget) {
            cells << row.budget->text;
            const auto figure = get(row.key, BudgetSize);
            if (!figure || figure->failed)
                cells << QStringLiteral("not measured");
            else
                cells << (row.budget->met(figure->value) ? QStringLiteral("yes") : QStringLiteral("**no**"));
        } else {
            cells << QString() << QString();
        }
        lines.push_back(cells);
    }

    std::vector<qsizetype> widths(size_t(header.size()), 3);
    for (const QStringList &cells : lines) {
        for (qsizetype c = 0; c < cells.size(); ++c)
            widths[size_t(c)] = std::max(widths[size_t(c)], cells[c].size());
    }
    auto renderLine = [&](const QStringList &cells) {
        QString line = QStringLiteral("|");
        for (qsizetype c = 0; c < cells.size(); ++c) {
            const bool numeric = c > 0 && c <= qsizetype(m_sizes.size() + (showGrowth ? 1 : 0));
            const QString cell = numeric ? cells[c].rightJustified(widths[size_t(c)])
                                         : cells[c].leftJustified(widths[size_t(c)]);
            line += u' ' + cell + QStringLiteral(" |");
        }
        return line;
    };

    QString out = title;
    if (!out.endsWith(u'\n'))
        out += u'\n';
    out += u'\n';
    out += renderLine(lines.front()) + u'\n';
    QString rule = QStringLiteral("|");
    for (qsizetype c = 0; c < header.size(); ++c) {
        const bool numeric = c > 0 && c <= qsizetype(m_sizes.size() + (showGrowth ? 1 : 0));
        rule += u' ' + QString(widths[size_t(c)] - 1, u'-') + (numeric ? u':' : u'-') + QStringLiteral(" |");
    }
    out += rule + u'\n';
    for (size_t i = 1; i < lines.size(); ++i)
        out += renderLine(lines[i]) + u'\n';
    if (!m_notes.isEmpty()) {
        out += u'\n';
        for (const QString &n : m_notes)
            out += QStringLiteral("- ") + n + u'\n';
    }
    return out;
}

} // namespace Bench
