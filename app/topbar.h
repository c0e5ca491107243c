#pragma once

#include <QList>
#include <QPoint>
#include <QString>
#include <QWidget>

class QLabel;
class QMouseEvent;
class QPushButton;

// The frameless window's title bar: logo, title, minimise and close, window dragging, and
// below them the message line with the one-click check button and the repair button.
class TopBar : public QWidget {
    Q_OBJECT

  public:
    // parent is the main window: the one that the buttons minimise and close and that a
    // drag moves.
    explicit TopBar(const QString& title, QWidget* parent = nullptr);
    ~TopBar() override;

    void GetButtons(QPushButton*& checkButton, QPushButton*& repairButton);
    // The bar's buttons that Tab reaches, in the order they are seen: minimise, close, then
    // the lower row from left to right (new release's notes, check, repair).
    QList<QWidget*> FocusChain() const;

  signals:
    void checkStartSignal(bool& message);
    void repairStartSignal(bool& message);
    // The user asked for the offered release to be installed.
    void updateStartSignal();

  public slots:
    void FinishCheckSlot(int needProcess, int needDown);
    void FinishRepaire(int successNum, int failedNum);
    // A newer release is offered: "发现新版本 %1" beside the title, and a button beside the
    // check and repair buttons that shows its notes. `mandatory`: this program is below the
    // lowest version that may repair; the repair button says so instead of repairing.
    void ShowUpdateOffer(const QString& version, const QString& notes, bool mandatory);
    // How the update ended: its text on the message line; the buttons back.
    void FinishUpdate(int result, const QString& text);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void OnCheckClicked();
    void OnRepairClicked();
    void OnUpdateClicked();
    // The buttons' accessible descriptions from the message line and the release notice.
    void UpdateAccessibleTexts();

    QPushButton* checkButton = nullptr;
    QPushButton* repairButton = nullptr;
    bool message = false;
    bool dragging = false;
    QPoint dragOffset;
    QPushButton* minButton = nullptr;
    QPushButton* closeButton = nullptr;
    QLabel* titleLabel = nullptr;
    QLabel* logoLabel = nullptr;
    QString title;
    QLabel* tipLabel = nullptr;
    QLabel* updateLabel = nullptr;
    QPushButton* updateButton = nullptr;
    QString updateVersion;
    QString updateNotes;
    bool updateMandatory = false;
    QWidget* window = nullptr;
};
