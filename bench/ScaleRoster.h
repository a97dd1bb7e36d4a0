#pragma once
// The 10-column GBK rosters of the scale benchmarks (50,000 to 1,000,000
// records) and their measure of time and memory: besides the time, each
// benchmark reports as counters the roster file's size (file_MB), the peak
// memory the operation added (added_MB: the process's peak resident size,
// reset before the operation, minus its resident size then) and their ratio
// (added_per_file).

#include "PeakMemory.h"

#include "DbfWriter.h"
#include "data/engine/Value.h"
#include "data/engine/io/ByteWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <map>

namespace scale_roster {

using namespace lumora::engine;
using peak_memory::statusKb;

constexpr int kTemplateRows = 10000;
constexpr int kHeaderLength = 32 + 10 * 32 + 1;

// The roster of `rows` records, made once per run: 10,000 records written by
// DbfWriter and repeated, each copy with its own student number (XH, the
// first field: 10 digits at offset 1 of the record).
inline QString rosterPath(int rows)
{
    static QTemporaryDir dir;
    static std::map<int, QString> made;
    if (auto it = made.find(rows); it != made.end())
        return it->second;
    const QString templatePath = dir.filePath(QStringLiteral("template.dbf"));
    if (!QFileInfo::exists(templatePath)) {
        const QStringList surnames = {"张", "王", "李", "赵", "刘",   "陈",
                                      "杨", "黄", "周", "吴", "欧阳", "司马"};
        const QStringList given = {"伟", "芳", "娜", "敏", "静",   "丽",
                                   "强", "磊", "洋", "艳", "小明", "晓燕"};
        QList<QList<Value>> records;
        for (int i = 0; i < kTemplateRows; ++i)
            records.append(
                {Value::text(QString()),
                 Value::text(surnames[i % surnames.size()] + given[(i / 7) % given.size()]),
                 Value::text(QStringLiteral("高%1(%2)班").arg(QChar(u"一二三"[i % 3])).arg(i % 20 + 1)),
                 Value::text(i % 2 ? QStringLiteral("男") : QStringLiteral("女")),
                 Value::real((i % 1000) / 10.0), Value::date(QDate(2008, 1, 1).addDays(i % 700)),
                 Value::text(QStringLiteral("北京市海淀区中关村大街%1号").arg(i % 300)),
                 Value::text(QStringLiteral("1380000%1").arg(i % 10000, 4, 10, QLatin1Char('0'))),
                 Value::boolean(i % 3 == 0), Value::null()});
        DbfWriter::write(templatePath,
                         {{"XH", 'C', 10},
                          {"XM", 'C', 12},
                          {"BJ", 'C', 12},
                          {"XB", 'C', 2},
                          {"CJ", 'N', 5, 1},
                          {"SR", 'D', 8},
                          {"DZ", 'C', 40},
                          {"DH", 'C', 11},
                          {"TY", 'L', 1},
                          {"ZP", 'C', 40}},
                         records);
    }
    QFile in(templatePath);
    in.open(QIODevice::ReadOnly);
    const QByteArray bytes = in.readAll();
    const int recordLength = (bytes.size() - kHeaderLength - 1) / kTemplateRows;
    QByteArray header = bytes.first(kHeaderLength);
    ByteWriter(header).le32(4, quint32(rows));
    const QString path = dir.filePath(QStringLiteral("roster%1.dbf").arg(rows));
    QFile out(path);
    out.open(QIODevice::WriteOnly);
    out.write(header);
    QByteArray record;
    for (int r = 0; r < rows; ++r) {
        record = bytes.sliced(kHeaderLength + qsizetype(r % kTemplateRows) * recordLength, recordLength);
        const QByteArray key = QByteArray::number(2024000000 + r);
        std::copy(key.begin(), key.end(), record.begin() + 1);
        out.write(record);
    }
    out.write("\x1A", 1);
    out.close();
    return made[rows] = path;
}

// Runs `op` once per iteration; records time and the memory it added.
template <typename Op> void measure(benchmark::State &state, Op op)
{
    const int rows = int(state.range(0));
    const QString path = rosterPath(rows);
    qint64 added = 0;
    for (auto _ : state)
        added = std::max(added, peak_memory::measure([&] { op(path); }).addedKb);
    const double fileMb = double(QFileInfo(path).size()) / (1024 * 1024);
    state.counters["file_MB"] = fileMb;
    state.counters["added_MB"] = double(added) / 1024;
    state.counters["added_per_file"] = double(added) / 1024 / fileMb;
    state.SetItemsProcessed(state.iterations() * rows);
}

} // namespace scale_roster
