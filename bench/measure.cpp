#include "measure.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

namespace Bench {

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

std::vector<double> repeat(const Runs &runs, const std::function<void()> &prepare,
                           const std::function<double()> &measure)
{
    std::vector<double> times;
    const Clock::time_point start = Clock::now();
    const double limitMs = runs.maxSeconds * 1000.0;
    for (int run = 0; run < runs.maxRuns; ++run) {
        if (run >= 1 && msSince(start) > limitMs)
            break;
        if (prepare)
            prepare();
        times.push_back(measure());
        if (run + 1 >= runs.minRuns && msSince(start) > limitMs)
            break;
    }
    return times;
}

void settle()
{
    // Two rounds: the first delivers the posted events and fires the
    // zero-delay layout timers, the second the paint those scheduled.
    for (int round = 0; round < 2; ++round)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

long statusKb(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0)
            return std::stol(line.substr(length));
    }
    return -1;
}

QString machineDescription()
{
    QString model = QStringLiteral("unknown CPU");
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = cpuinfo.readAll().split('\n');
        for (const QByteArray &line : lines) {
            if (line.startsWith("model name")) {
                model = QString::fromUtf8(line.mid(line.indexOf(':') + 1)).trimmed();
                break;
            }
        }
    }
    return QStringLiteral("%1, %2 cores").arg(model).arg(QThread::idealThreadCount());
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll().split(' ').value(0));
}

} // namespace Bench
