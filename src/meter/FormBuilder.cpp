#include "meter/FormBuilder.h"

#include "base/FieldWidth.h"
#include "meter/FieldIds.h"
#include "meter/FormFieldBinder.h"
#include "meter/ZarnFormRules.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
// A layout keeps the sizes it worked out until told they changed, and a changed control tells
// only the layout it sits in: the layouts nested around it are told here.
void Forget(QLayout *layout)
{
    layout->invalidate();
    for (int i = 0; i < layout->count(); ++i) {
        if (QLayout *inner = layout->itemAt(i)->layout())
            Forget(inner);
    }
}
} // namespace

FormBuilder::FormBuilder(QWidget *page, FormFieldBinder &binder, std::function<void(int)> stepped)
    : m_page(page)
    , m_binder(binder)
    , m_stepped(std::move(stepped))
{
}

QLineEdit *FormBuilder::MakeEdit(int id, int width)
{
    auto *edit = new QLineEdit(m_page);
    if (width > 0)
        edit->setFixedWidth(width);
    edit->setFixedHeight(19);
    m_binder.Register(id, edit);
    return edit;
}

QComboBox *FormBuilder::MakeChoice(int id, QWidget *parent)
{
    auto *box = new QComboBox(parent ? parent : m_page);
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    // The box's minimum size is not brought up to date when entries come, only its size hint:
    // a layout short of room would squeeze it back to a few characters. The boxes around it
    // learn the new width at once, so a window fitted right after the entries came fits it.
    const auto fit = [box] {
        box->setMinimumWidth(box->sizeHint().width());
        for (QWidget *outer = box->parentWidget(); outer; outer = outer->parentWidget()) {
            if (outer->layout())
                Forget(outer->layout());
            outer->updateGeometry();
        }
    };
    QObject::connect(box->model(), &QAbstractItemModel::rowsInserted, box, fit);
    QObject::connect(box->model(), &QAbstractItemModel::rowsRemoved, box, fit);
    QObject::connect(box->model(), &QAbstractItemModel::modelReset, box, fit);
    m_binder.Register(id, box);
    return box;
}

QWidget *FormBuilder::MakeSpinEdit(int editId, int spinId, int low, int high)
{
    // An edit with up/down arrows beside it: the arrows step the edit's number within its
    // range, while the edit itself takes any text (the limits apply when it is left).
    auto *holder = new QWidget(m_page);
    holder->setFixedHeight(20);
    auto *row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    QLineEdit *edit = MakeEdit(editId, 36);
    m_binder.Register(spinId, edit);
    auto *arrows = new QWidget(holder);
    auto *column = new QVBoxLayout(arrows);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    for (int step : { +1, -1 }) {
        auto *button = new QToolButton(arrows);
        button->setArrowType(step > 0 ? Qt::UpArrow : Qt::DownArrow);
        button->setFixedSize(14, 10);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        QObject::connect(button, &QToolButton::clicked, m_page,
            [stepped = m_stepped, edit, spinId, step, low, high] {
                const int value = qBound(low, ZarnFormRules::LeadingInt(edit->text()) + step, high);
                edit->setText(QString::number(value));
                stepped(spinId);
            });
        column->addWidget(button);
    }
    row->addWidget(edit);
    row->addWidget(arrows);
    row->addStretch();
    return holder;
}

QGroupBox *FormBuilder::Group(const QString &title, QWidget *parent)
{
    return new QGroupBox(title, parent ? parent : m_page);
}

QGridLayout *FormBuilder::GridIn(QGroupBox *box)
{
    auto *grid = new QGridLayout(box);
    grid->setContentsMargins(5, 2, 5, 4);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    return grid;
}

QLabel *FormBuilder::Caption(const QString &text, QWidget *parent)
{
    return new QLabel(text, parent);
}

QGroupBox *FormBuilder::MakeVersionGroup(const QString &meterCaption, const QString &widest,
    int firstRow, QLabel *&meter, QLabel *&revision, QLabel *&templateLabel)
{
    auto *box = Group(QStringLiteral("Version"));
    auto *grid = GridIn(box);
    meter = new QLabel(QStringLiteral("?.??"), box);
    revision = new QLabel(QStringLiteral("?"), box);
    templateLabel = new QLabel(QStringLiteral("?.??"), box);
    // Wide enough for every version text, so a new one never waits for a relayout to show.
    meter->setMinimumWidth(m_page->fontMetrics().horizontalAdvance(widest));
    templateLabel->setMinimumWidth(
        m_page->fontMetrics().horizontalAdvance(QStringLiteral(">= 4.1A ")));
    m_binder.Register(FieldId::MeterVersion, meter);
    m_binder.Register(FieldId::Revision, revision);
    m_binder.Register(FieldId::TemplateVersion, templateLabel);
    grid->addWidget(Caption(meterCaption, box), firstRow, 0);
    grid->addWidget(meter, firstRow, 1);
    grid->addWidget(Caption(QStringLiteral("r"), box), firstRow, 2);
    grid->addWidget(revision, firstRow, 3);
    grid->addWidget(Caption(QStringLiteral("Template"), box), firstRow + 1, 0);
    grid->addWidget(templateLabel, firstRow + 1, 1, 1, 3);
    return box;
}

QLabel *FormBuilder::MakeLogo(QWidget *parent, const QString &color)
{
    auto *logo = new QLabel(QStringLiteral("HALVREN"), parent);
    QFont logoFont = logo->font();
    logoFont.setBold(true);
    logoFont.setPointSize(11);
    logoFont.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    logo->setFont(logoFont);
    logo->setAlignment(Qt::AlignCenter);
    logo->setStyleSheet(QStringLiteral("color: %1;").arg(color));
    return logo;
}

void FormBuilder::LayOutColumns(QWidget *topLeft, QWidget *topRight,
    std::initializer_list<QWidget *> left, std::initializer_list<QWidget *> right, int leftStretch,
    int rightStretch)
{
    auto *top = new QHBoxLayout;
    top->setSpacing(4);
    top->addWidget(topLeft);
    top->addWidget(topRight, 1);
    auto *leftColumn = new QVBoxLayout;
    leftColumn->setSpacing(3);
    leftColumn->addLayout(top);
    auto *rightColumn = new QVBoxLayout;
    rightColumn->setSpacing(3);
    for (QWidget *widget : left)
        leftColumn->addWidget(widget);
    for (QWidget *widget : right)
        rightColumn->addWidget(widget);
    leftColumn->addStretch();
    rightColumn->addStretch();
    // The form scrolls in a window smaller than its layout instead of squeezing its fields.
    auto *content = new QWidget;
    auto *outer = new QHBoxLayout(content);
    outer->setContentsMargins(4, 2, 4, 2);
    outer->setSpacing(4);
    outer->addLayout(leftColumn, leftStretch);
    outer->addLayout(rightColumn, rightStretch);
    FieldWidth::Scrolling(m_page, content);
}

QTreeWidget *FormBuilder::MakeCoefficientList(
    QWidget *parent, int listId, const QStringList &headers)
{
    auto *list = new QTreeWidget(parent);
    list->setColumnCount(2);
    list->setHeaderLabels(headers);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setIndentation(0);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->header()->setStretchLastSection(true);
    list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    list->header()->setMinimumSectionSize(20);
    m_binder.Register(listId, list);
    return list;
}
