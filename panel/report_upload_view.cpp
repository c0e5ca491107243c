// Uploading the check report to the operator's support server, from the report menu: the
// upload runs on a worker, and a small dialog gives the report's code or says what failed.
#include "centerwidget.h"

#include "engine/report/report_json.h"
#include "engine/upload/upload_texts.h"
#include "engine/upload/upload_thread.h"

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QPushButton>

bool centerWidget::CanUploadReport() const {
    return lastReport.rows[kNetworkRow].code.has_value() && !lastReport.reportUrl.empty();
}

void centerWidget::StartReportUpload() {
    if (uploadThread || !CanUploadReport())
        return;
    auto* thread = new UploadThread(lastReport.reportUrl, ReportJsonText(lastReport), logger);
    uploadThread = thread;
    connect(thread, &UploadThread::UploadFinishSig, this, &centerWidget::ShowUploadResult);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void centerWidget::ShowUploadResult(int result, const QString& code, const QString& failure) {
    uploadThread = nullptr; // its last signal: another upload may start
    // Not modal to the application and never waited for: the window goes on working.
    auto* box = new QMessageBox(this);
    box->setObjectName("uploadResultBox");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle("上传检测报告");
    if (result == kUploaded) {
        box->setIcon(QMessageBox::Information);
        box->setText(QString::fromStdString(UploadSuccessText(code.toStdString())));
        QPushButton* copy = box->addButton("复制编号", QMessageBox::ActionRole);
        const QString shown = QString::fromStdString(ReportCodeForReading(code.toStdString()));
        connect(copy, &QPushButton::clicked, box,
                [shown] { QApplication::clipboard()->setText(shown); });
        box->addButton("关闭", QMessageBox::RejectRole);
    } else {
        box->setIcon(QMessageBox::Warning);
        box->setText(failure);
        box->addButton("关闭", QMessageBox::RejectRole);
    }
    box->setWindowModality(Qt::NonModal);
    box->show();
}
