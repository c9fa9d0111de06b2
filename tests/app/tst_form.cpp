/* The window form as set-up builds it on a bare main window. */
#include "ui_skerrowDriver.h"

#include <QGridLayout>
#include <QMainWindow>
#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

namespace {
struct cell {
    QWidget* widget;
    int row, column, rowSpan, columnSpan;
};

void expectCells(QGridLayout* grid, const std::vector<cell>& cells)
{
    QCOMPARE(grid->count(), static_cast<int>(cells.size()));
    for (const cell& c : cells) {
        const int index = grid->indexOf(c.widget);
        QVERIFY2(index >= 0, qPrintable(c.widget->objectName()));
        int row, column, rowSpan, columnSpan;
        grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(row, c.row);
        QCOMPARE(column, c.column);
        QCOMPARE(rowSpan, c.rowSpan);
        QCOMPARE(columnSpan, c.columnSpan);
    }
}

void expectMargins(QLayout* layout, int spacing, int margin)
{
    QCOMPARE(layout->spacing(), spacing);
    QCOMPARE(layout->contentsMargins(), QMargins(margin, margin, margin, margin));
}

void expectSpacer(QLayoutItem* item, QSize hint, QSizePolicy::Policy horizontal,
                  QSizePolicy::Policy vertical)
{
    QSpacerItem* spacer = item->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), hint);
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), horizontal);
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), vertical);
}

/* A group row: the group box at the left, pushed there by an expanding spacer. */
void expectGroupRow(QLayoutItem* item, const char* layoutName, QGroupBox* group)
{
    QBoxLayout* row = qobject_cast<QHBoxLayout*>(item->layout());
    QVERIFY(row);
    QCOMPARE(row->objectName(), QString(layoutName));
    QCOMPARE(row->spacing(), 6);
    QCOMPARE(row->count(), 2);
    QCOMPARE(row->itemAt(0)->widget(), group);
    expectSpacer(row->itemAt(1), QSize(40, 20), QSizePolicy::Expanding, QSizePolicy::Minimum);
}

void expectSpinBox(QSpinBox* box, int maximum, int value)
{
    QCOMPARE(box->minimum(), 0);
    QCOMPARE(box->maximum(), maximum);
    QCOMPARE(box->value(), value);
}

QTextBlock blockStartingWith(QTextDocument* document, const QString& start)
{
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (block.text().startsWith(start))
            return block;
    }
    return QTextBlock();
}
}

class formTest : public QObject {
    Q_OBJECT

private:
    QMainWindow window;
    Ui::skerrowDriverClass ui;

private slots:
    void initTestCase() { ui.setupUi(&window); }

    void namesTheBareWindowAndSizesIt()
    {
        QCOMPARE(window.objectName(), QString("skerrowDriverClass"));
        QCOMPARE(window.size(), QSize(719, 556));
        QCOMPARE(window.windowTitle(), QString("skerrowDriver"));
    }

    void keepsTheNameOfAWindowThatHasOne()
    {
        QMainWindow named;
        named.setObjectName("mine");
        Ui::skerrowDriverClass other;
        other.setupUi(&named);
        QCOMPARE(named.objectName(), QString("mine"));
    }

    void givesEveryWidgetAndLayoutItsMemberName()
    {
        const std::vector<std::pair<QObject*, const char*>> named = {
            {ui.centralWidget, "centralWidget"}, {ui.horizontalLayout_4, "horizontalLayout_4"},
            {ui.verticalLayout, "verticalLayout"}, {ui.enabled, "enabled"},
            {ui.horizontalLayout_3, "horizontalLayout_3"}, {ui.groupBox, "groupBox"},
            {ui.gridLayout_4, "gridLayout_4"}, {ui.mptMin, "mptMin"}, {ui.label, "label"},
            {ui.mptMax, "mptMax"}, {ui.label_2, "label_2"}, {ui.mptInfo, "mptInfo"},
            {ui.horizontalLayout, "horizontalLayout"}, {ui.groupBox_2, "groupBox_2"},
            {ui.gridLayout_3, "gridLayout_3"}, {ui.label_4, "label_4"}, {ui.msMin, "msMin"},
            {ui.label_3, "label_3"}, {ui.msMax, "msMax"}, {ui.msInfo, "msInfo"},
            {ui.horizontalLayout_2, "horizontalLayout_2"}, {ui.groupBox_4, "groupBox_4"},
            {ui.gridLayout, "gridLayout"}, {ui.label_7, "label_7"}, {ui.sMin, "sMin"},
            {ui.label_8, "label_8"}, {ui.sMax, "sMax"}, {ui.sInfo, "sInfo"},
            {ui.groupBox_3, "groupBox_3"}, {ui.gridLayout_2, "gridLayout_2"}, {ui.ttMax, "ttMax"},
            {ui.label_6, "label_6"}, {ui.ttMin, "ttMin"}, {ui.ttInfo, "ttInfo"},
            {ui.label_5, "label_5"}, {ui.label_9, "label_9"}, {ui.ttValue, "ttValue"},
            {ui.textBrowser, "textBrowser"}, {ui.menuBar, "menuBar"}, {ui.statusBar, "statusBar"},
        };
        for (const auto& [object, name] : named)
            QCOMPARE(object->objectName(), QString(name));
    }

    void buildsEachWidgetOfItsClassUnderItsParent()
    {
        QCOMPARE(window.centralWidget(), ui.centralWidget);
        QCOMPARE(window.menuBar(), ui.menuBar);
        QCOMPARE(window.statusBar(), ui.statusBar);
        QCOMPARE(ui.enabled->metaObject()->className(), "QCheckBox");
        QCOMPARE(ui.textBrowser->metaObject()->className(), "QTextBrowser");
        for (QWidget* w : {static_cast<QWidget*>(ui.enabled), static_cast<QWidget*>(ui.groupBox),
                           static_cast<QWidget*>(ui.groupBox_2), static_cast<QWidget*>(ui.groupBox_3),
                           static_cast<QWidget*>(ui.groupBox_4), static_cast<QWidget*>(ui.textBrowser)})
            QCOMPARE(w->parentWidget(), ui.centralWidget);
        QCOMPARE(ui.mptMin->parentWidget(), ui.groupBox);
        QCOMPARE(ui.msInfo->parentWidget(), ui.groupBox_2);
        QCOMPARE(ui.sMax->parentWidget(), ui.groupBox_4);
        QCOMPARE(ui.ttValue->parentWidget(), ui.groupBox_3);
        QCOMPARE(ui.ttValue->metaObject()->className(), "QLabel");
        QCOMPARE(ui.ttValue->windowType(), Qt::Widget);
    }

    void laysTheControlsOutLeftOfTheHelpText()
    {
        QCOMPARE(ui.centralWidget->layout(), ui.horizontalLayout_4);
        expectMargins(ui.horizontalLayout_4, 6, 11);
        QCOMPARE(ui.horizontalLayout_4->count(), 2);
        QCOMPARE(ui.horizontalLayout_4->itemAt(0)->layout(), ui.verticalLayout);
        QCOMPARE(ui.horizontalLayout_4->itemAt(1)->widget(), ui.textBrowser);
    }

    void stacksEnabledTheFourGroupsAndASpacerInTheColumn()
    {
        QBoxLayout* column = ui.verticalLayout;
        QCOMPARE(column->spacing(), 6);
        QCOMPARE(column->count(), 6);
        QCOMPARE(column->itemAt(0)->widget(), ui.enabled);
        expectGroupRow(column->itemAt(1), "horizontalLayout_3", ui.groupBox);
        expectGroupRow(column->itemAt(2), "horizontalLayout", ui.groupBox_2);
        expectGroupRow(column->itemAt(3), "horizontalLayout_2", ui.groupBox_4);
        QCOMPARE(column->itemAt(4)->widget(), ui.groupBox_3);
        expectSpacer(column->itemAt(5), QSize(20, 16), QSizePolicy::Minimum, QSizePolicy::Expanding);
        for (int i = 0; i < column->count(); ++i)
            QCOMPARE(column->stretch(i), 0);
    }

    void placesEachGroupsControlsInTheirCells()
    {
        for (QGroupBox* group : {ui.groupBox, ui.groupBox_2, ui.groupBox_3, ui.groupBox_4})
            expectMargins(group->layout(), 6, 11);
        QCOMPARE(ui.groupBox->layout(), ui.gridLayout_4);
        expectCells(ui.gridLayout_4, {{ui.label, 0, 0, 1, 1}, {ui.mptMin, 0, 1, 1, 1},
                                      {ui.label_2, 0, 2, 1, 1}, {ui.mptMax, 0, 3, 1, 1},
                                      {ui.mptInfo, 1, 0, 1, 4}});
        QCOMPARE(ui.groupBox_2->layout(), ui.gridLayout_3);
        expectCells(ui.gridLayout_3, {{ui.label_3, 0, 0, 1, 1}, {ui.msMin, 0, 1, 1, 1},
                                      {ui.label_4, 0, 2, 1, 1}, {ui.msMax, 0, 3, 1, 1},
                                      {ui.msInfo, 1, 0, 1, 4}});
        QCOMPARE(ui.groupBox_4->layout(), ui.gridLayout);
        expectCells(ui.gridLayout, {{ui.label_7, 0, 0, 1, 1}, {ui.sMin, 0, 1, 1, 1},
                                    {ui.label_8, 0, 2, 1, 1}, {ui.sMax, 0, 3, 1, 1},
                                    {ui.sInfo, 1, 0, 1, 4}});
        QCOMPARE(ui.groupBox_3->layout(), ui.gridLayout_2);
        expectCells(ui.gridLayout_2, {{ui.label_5, 0, 0, 1, 1}, {ui.ttMin, 0, 1, 1, 1},
                                      {ui.label_6, 0, 2, 1, 1}, {ui.ttMax, 0, 3, 1, 1},
                                      {ui.label_9, 0, 4, 1, 1}, {ui.ttValue, 0, 5, 1, 1},
                                      {ui.ttInfo, 1, 0, 1, 4}});
    }

    void startsTheSpinBoxesAtTheirValuesUnderRaisedMaxima()
    {
        expectSpinBox(ui.mptMin, 1000, 1);
        expectSpinBox(ui.mptMax, 1000, 10);
        expectSpinBox(ui.msMin, 1024, 0);
        expectSpinBox(ui.msMax, 1024, 255);
        expectSpinBox(ui.sMin, 1024, 1);
        expectSpinBox(ui.sMax, 1024, 1024);
        expectSpinBox(ui.ttMin, 60000, 100);
        expectSpinBox(ui.ttMax, 60000, 1000);
    }

    void refusesNegativeAndTooLargeValues()
    {
        Ui::skerrowDriverClass other;
        QMainWindow host;
        other.setupUi(&host);
        other.ttMax->setValue(70000);
        QCOMPARE(other.ttMax->value(), 60000);
        other.mptMin->setValue(-1);
        QCOMPARE(other.mptMin->value(), 0);
    }

    void labelsEveryGroupAndControl()
    {
        QCOMPARE(ui.enabled->text(), QString("Enabled"));
        QCOMPARE(ui.enabled->isChecked(), false);
        QCOMPARE(ui.groupBox->title(), QString("Messages per tick"));
        QCOMPARE(ui.groupBox_2->title(), QString("Message size (characters)"));
        QCOMPARE(ui.groupBox_4->title(), QString("Slot Range"));
        QCOMPARE(ui.groupBox_3->title(), QString("Tick time (ms)"));
        for (QLabel* min : {ui.label, ui.label_3, ui.label_7, ui.label_5})
            QCOMPARE(min->text(), QString("Min"));
        for (QLabel* max : {ui.label_2, ui.label_4, ui.label_8, ui.label_6})
            QCOMPARE(max->text(), QString("Max"));
        QCOMPARE(ui.label_9->text(), QString("Actual Value:"));
        for (QLabel* info : {ui.mptInfo, ui.msInfo, ui.sInfo, ui.ttInfo, ui.ttValue})
            QVERIFY(info->text().isEmpty());
    }

    void installsAnEmptyMenuBarAndAStatusBar()
    {
        QVERIFY(ui.menuBar->actions().isEmpty());
        QCOMPARE(ui.menuBar->geometry(), QRect(0, 0, 719, 21));
    }

    void showsAReadOnlyHelpDocumentWithItsTwoHeadings()
    {
        QVERIFY(ui.textBrowser->isReadOnly());
        QTextDocument* help = ui.textBrowser->document();
        const QTextBlock title = blockStartingWith(help, "The Skerrow Driver");
        const QTextBlock when = blockStartingWith(help, "When you might use this tool?");
        QVERIFY(title.isValid());
        QVERIFY(when.isValid());
        QCOMPARE(title.blockFormat().topMargin(), 18.0);
        QCOMPARE(title.blockFormat().bottomMargin(), 12.0);
        QCOMPARE(when.blockFormat().topMargin(), 16.0);
        QCOMPARE(when.blockFormat().bottomMargin(), 12.0);
        for (const QTextBlock& heading : {title, when}) {
            const QTextCharFormat format = heading.begin().fragment().charFormat();
            QVERIFY(format.font().bold());
            QCOMPARE(format.font().pointSizeF(), 8.0);
        }
        const QTextBlock body = blockStartingWith(help, "This is a test tool");
        QVERIFY(body.isValid());
        const QTextCharFormat bodyFormat = body.begin().fragment().charFormat();
        QCOMPARE(bodyFormat.fontFamily(), QString("MS Shell Dlg 2"));
        QCOMPARE(bodyFormat.font().pointSizeF(), 8.25);
        QVERIFY(!bodyFormat.font().bold());
        QCOMPARE(body.blockFormat().topMargin(), 0.0);
        QVERIFY(body.next().text().isEmpty());
    }

    void endsTheHelpWithARedWarning()
    {
        const QTextBlock warning = blockStartingWith(ui.textBrowser->document(), "BE CAREFUL:");
        QVERIFY(warning.isValid());
        QTextBlock::iterator part = warning.begin();
        const QTextFragment careful = part.fragment();
        QCOMPARE(careful.text(), QString("BE CAREFUL:"));
        QVERIFY(careful.charFormat().font().bold());
        QVERIFY(careful.charFormat().fontItalic());
        QVERIFY(careful.charFormat().fontUnderline());
        QCOMPARE(careful.charFormat().foreground().color(), QColor("#ff0000"));
        ++part;
        const QTextFragment rest = part.fragment();
        QVERIFY(rest.text().contains("overwhelming levels of traffic"));
        QCOMPARE(rest.charFormat().foreground().color(), QColor("#ff0000"));
        QVERIFY(!rest.charFormat().font().bold());
        QVERIFY(!rest.charFormat().fontItalic());
        QVERIFY(!rest.charFormat().fontUnderline());
    }
};

QTEST_MAIN(formTest)
#include "tst_form.moc"
