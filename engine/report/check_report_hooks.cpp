// The check run's side of the report: the run's identity, each row's result as its signal
// carries it, and the facts behind the results.
#include "engine/checkthread.h"

#include "engine/engine_log.h"
#include "engine/region.h"
#include "engine/report/check_record.h"
#include "engine/row_texts.h"

#include "probes/ie_settings.h"
#include "probes/registry.h"

#include <QDateTime>

#include <cstdlib>

#ifndef QUELDA_VERSION
#define QUELDA_VERSION "0"
#endif

namespace {
int RegisterReportType() {
    return qRegisterMetaType<CheckReport>("CheckReport");
}
} // namespace

void CheckThread::RecordResults() {
    static const int registered = RegisterReportType();
    (void)registered;
    // Direct: the row is set on the worker thread as the result leaves it, before the
    // report signal copies the record.
    const std::pair<void (CheckThread::*)(int), int> results[] = {
        {&CheckThread::CheckNetSig, kNetworkRow}, {&CheckThread::CheckNetFraSig, kDotNetRow},
        {&CheckThread::CheckIESig, kIERow},       {&CheckThread::CheckToolVerSig, kToolRow},
        {&CheckThread::CheckCAVerSig, kCaRow},
    };
    for (const auto& [signal, row] : results)
        connect(
            this, signal, this,
            [this, row = row](int code) {
                report_.rows[row].code = code;
                report_.rows[row].text = RowResultText(row, code);
            },
            Qt::DirectConnection);
}

void CheckThread::BeginReport() {
    report_ = CheckReport();
    // Always with a numeric offset, also for UTC ("+00:00", not "Z").
    const QDateTime now = QDateTime::currentDateTime();
    const int offset = now.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    report_.time =
        (now.toString("yyyy-MM-dd'T'HH:mm:ss") +
         QString::asprintf("%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60))
            .toStdString();
    report_.toolVersion = QUELDA_VERSION;
    report_.region = RegionName(regionIndex);
    report_.server = ipPort;
    report_.document = url;
    ieMode_ = ReadIEMode({kPortalDomain});
    report_.system = SystemFactsOf(ieMode_);
}

void CheckThread::RecordRows() {
    const std::string region = RegionName(regionIndex);
    report_.rows[kDotNetRow].facts = DotNetFacts(serverCfg, region);
    report_.rows[kIERow].facts = IEFacts();
    for (CheckFact& fact : IEModeFacts(ieMode_))
        report_.rows[kIERow].facts.push_back(std::move(fact));
    report_.rows[kToolRow].facts = ToolFacts(serverCfg, region);
    // The CA row's facts are the CA check's own (CheckCaVer).
    // A registry that cannot be read fails every row below the network one; say why first.
    long error = 0;
    if (CheckRegistryReadable(error) < 0) {
        ENGINE_LOG(logger, "registry cannot be read, error={}", error);
        const CheckFact fact = RegistryStoreFact(error);
        for (int row : {kDotNetRow, kIERow, kToolRow, kCaRow})
            report_.rows[row].facts.insert(report_.rows[row].facts.begin(), fact);
    }
}
