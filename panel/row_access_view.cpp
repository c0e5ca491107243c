// The panel's side of keyboard and screen-reader access: the Tab order of its controls and
// what each row and row button tells a screen reader, taken from what the row shows.
#include "centerwidget.h"

#include "panel_styles.h"
#include "row_accessibility.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

QList<QWidget*> centerWidget::FocusChain() const {
    return {regionCombo, netFraButton, ieButton, toolButton, caButton};
}

void centerWidget::UpdateAccessibleTexts() {
    struct Row {
        QLabel* name;
        QLabel* status;
        QPushButton* button;
    };
    const Row rows[] = {{netNameLabel, netStatusLabel, nullptr},
                        {netFraNameLabel, netFraStatusLabel, netFraButton},
                        {ieNameLabel, ieStatusLabel, ieButton},
                        {toolNameLabel, toolStatusLabel, toolButton},
                        {caNameLabel, caStatusLabel, caButton}};
    for (const Row& row : rows) {
        RowShown shown;
        shown.statusText = row.status->text();
        // A text cleared by a failed network check keeps the colour of an earlier run.
        const QString colour = row.status->styleSheet();
        if (shown.statusText.isEmpty())
            shown.look = RowLook::Unchecked;
        else if (colour == QLatin1String(panelstyle::kGood))
            shown.look = RowLook::Good;
        else if (colour == QLatin1String(panelstyle::kFault))
            shown.look = RowLook::Fault;
        else
            shown.look = RowLook::Pending;
        if (row.button) {
            shown.buttonShown = !row.button->isHidden();
            shown.buttonEnabled = row.button->isEnabled();
            shown.buttonText = row.button->text();
        }
        const QString item = row.name->text();
        const QString name = RowAccessibleName(item, shown);
        row.name->setAccessibleName(name);
        row.name->setAccessibleDescription(shown.statusText);
        row.status->setAccessibleName(name);
        row.status->setAccessibleDescription(shown.statusText);
        if (row.button) {
            row.button->setAccessibleName(RowButtonAccessibleName(item, shown.buttonText));
            row.button->setAccessibleDescription(name);
        }
    }
    regionCombo->setAccessibleDescription(regionCombo->currentText());
}
