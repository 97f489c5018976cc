#include "store/sampledata.h"

#include <QRandomGenerator>
#include <QSet>

namespace VelmoraServerCore {

namespace {

struct Plant
{
    const char16_t *name;
    int firstId;
};

// Each plant numbers its centers from its own block of IDs.
constexpr Plant Plants[] = {
    {u"Hamburg", 1000},   {u"Köln", 2000},       {u"Zürich", 3000},  {u"Besançon", 4000},
    {u"Malmö", 5000},     {u"A Coruña", 6000},   {u"São Paulo", 7000}, {u"Göteborg", 8000},
};

constexpr const char16_t *Processes[] = {
    u"Assembly Line",     u"CNC Milling",      u"CNC Turning",       u"Paint Shop",
    u"Welding Cell",      u"Quality Lab",      u"Packaging",         u"Goods Receipt",
    u"Shipping Dock",     u"Tool Room",        u"Maintenance",       u"Injection Moulding",
    u"Press Shop",        u"Heat Treatment",   u"Kitting",           u"Final Inspection",
    u"Spare Parts Store", u"Laser Cutting",    u"Powder Coating",    u"Electronics Rework",
    u"R&D Workshop",      u"Test Bench",       u"Calibration",       u"Grinding",
};

struct Sample
{
    QList<Center> centers;
    QList<std::pair<qint32, qint32>> assignments;
};

Sample makeSample()
{
    // A fixed seed: the sample is part of the product, not a random draw.
    QRandomGenerator random(20240501);
    Sample sample;
    for (const Plant &plant : Plants) {
        const QString plantName = QString::fromUtf16(plant.name);
        int id = plant.firstId;
        for (const char16_t *process : Processes) {
            // Not every plant runs every process; some run several.
            const int cells = int(random.bounded(4));
            for (int cell = 1; cell <= cells; ++cell) {
                id += 1 + int(random.bounded(4));
                QString name = QString::fromUtf16(process);
                if (cells > 1)
                    name += u' ' + QString::number(cell);
                name += QStringLiteral(" \u2013 ") + plantName;
                const bool active = random.bounded(10) != 0;
                sample.centers.append({id, name, active});
            }
        }
    }

    // Employees are assigned to centers of one or two plants, as operators
    // are in practice.
    for (qint32 employee = 1; employee <= SampleData::EmployeeCount; ++employee) {
        QSet<qint32> chosen;
        const int wanted = 4 + int(random.bounded(20));
        const int home = int(random.bounded(int(std::size(Plants))));
        const int away = int(random.bounded(int(std::size(Plants))));
        for (int attempt = 0; attempt < 200 && chosen.size() < wanted; ++attempt) {
            const Center &c = sample.centers[random.bounded(int(sample.centers.size()))];
            const int block = c.id / 1000 - 1;
            if (block != home && block != away)
                continue;
            if (!chosen.contains(c.id)) {
                chosen.insert(c.id);
                sample.assignments.append({employee, c.id});
            }
        }
    }
    return sample;
}

const Sample &sample()
{
    static const Sample instance = makeSample();
    return instance;
}

} // namespace

const QList<Center> &SampleData::centers()
{
    return sample().centers;
}

const QList<std::pair<qint32, qint32>> &SampleData::assignments()
{
    return sample().assignments;
}

} // namespace VelmoraServerCore
