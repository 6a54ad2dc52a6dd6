#include "window/widgets/ProfilePopup.h"

#include "window/widgets/ICCProfileSelector.h"
#include "window/widgets/ProfileHighlightDelegate.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QStandardItemModel>
#include <QVBoxLayout>

namespace {

constexpr int kPageStep = 10;

}  // namespace

ProfilePopup::ProfilePopup(ICCProfileSelector* selector, QWidget* parent)
    : QDialog(parent, Qt::Popup | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , selector_(selector)
{
    setModal(true);
    build_ui();
    build_filter();
    connect_signals();
    fill_list();
}

void ProfilePopup::build_ui()
{
    list_ = new QListWidget(this);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setIconSize(QSize(24, 24));
    list_->setUniformItemSizes(true);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setItemDelegate(new ProfileHighlightDelegate(this));

    filter_ = new QComboBox(this);
    filter_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    search_ = new QLineEdit(this);
    search_->setFrame(true);
    search_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    search_->setPlaceholderText(tr("Search"));
    search_->setClearButtonEnabled(true);

    auto* bottom = new QHBoxLayout();
    bottom->setSpacing(0);
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->addWidget(filter_, 1);
    bottom->addWidget(search_, 3);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    layout->addLayout(bottom);

    for (QObject* watched : {static_cast<QObject*>(list_), static_cast<QObject*>(filter_),
                             static_cast<QObject*>(search_), static_cast<QObject*>(this)})
        watched->installEventFilter(this);
}

void ProfilePopup::build_filter()
{
    const int spaceMask = selector_ ? selector_->space() : 0;
    const bool named = selector_ && (selector_->pclass() & ClassNamed);

    struct Item {
        QString text;
        Filter filter;
        bool enabled;
    };
    QVector<Item> items = {{tr("All"), FilterAll, true},
                           {QStringLiteral("GRAY"), FilterGray, bool(spaceMask & SpaceGray)},
                           {QStringLiteral("RGB"), FilterRGB, bool(spaceMask & SpaceRGB)},
                           {QStringLiteral("CMYK"), FilterCMYK, bool(spaceMask & SpaceCMYK)}};
    if (named)
        items.append({tr("Named"), FilterNamed, bool(spaceMask & (SpaceLab | SpaceMulti))});

    int enabled = 0;
    for (const Item& item : items) {
        filter_->addItem(item.text, int(item.filter));
        if (!item.enabled) {
            if (auto* model = qobject_cast<QStandardItemModel*>(filter_->model()))
                model->item(filter_->count() - 1)->setEnabled(false);
        } else if (item.filter != FilterAll) {
            ++enabled;
        }
    }
    // A choice between "All" and one space is no choice.
    if (enabled <= 1)
        filter_->hide();
}

void ProfilePopup::connect_signals()
{
    connect(filter_, &QComboBox::currentIndexChanged, this, [this] { fill_list(); });
    connect(search_, &QLineEdit::textChanged, this, &ProfilePopup::search_changed);
    connect(list_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { accept_index(item->data(Qt::UserRole).toInt()); });
}

bool ProfilePopup::filter_allows(int entryIndex) const
{
    const ProfileEntry& entry = selector_->entries().at(entryIndex);
    switch (Filter(filter_->currentData().toInt())) {
    case FilterAll:
        return true;
    case FilterGray:
        return entry.space == SpaceGray;
    case FilterRGB:
        return entry.space == SpaceRGB;
    case FilterCMYK:
        return entry.space == SpaceCMYK;
    case FilterNamed:
        return entry.named;
    }
    return true;
}

void ProfilePopup::fill_list()
{
    list_->clear();
    if (!selector_)
        return;
    const QVector<ProfileEntry>& entries = selector_->entries();
    const bool withIcons = selector_->icons();
    for (int i = 0; i < entries.size(); ++i) {
        if (!filter_allows(i))
            continue;
        const ProfileEntry& entry = entries.at(i);
        const QString text = entry.displayText();
        if (!search_text_.isEmpty() && !text.contains(search_text_, Qt::CaseInsensitive))
            continue;
        auto* item = new QListWidgetItem(text, list_);
        item->setData(Qt::UserRole, i);
        if (withIcons)
            item->setIcon(ICCProfileSelector::entryIcon(entry));
        item->setToolTip(entry.toolTip());
    }
    if (list_->count() > 0 && list_->currentRow() < 0)
        list_->setCurrentRow(0);
}

void ProfilePopup::search_changed(const QString& text)
{
    search_text_ = text;
    if (!text.isEmpty() && filter_->currentIndex() != 0)
        filter_->setCurrentIndex(0);  // refills the list
    else
        fill_list();
}

void ProfilePopup::move_current(int delta)
{
    const int count = list_->count();
    if (count == 0)
        return;
    const int row = qBound(0, list_->currentRow() + delta, count - 1);
    list_->setCurrentRow(row);
    list_->scrollToItem(list_->item(row), QAbstractItemView::PositionAtCenter);
}

void ProfilePopup::accept_index(int entryIndex)
{
    chosen_ = entryIndex;
    accept();
}

bool ProfilePopup::handle_key(QObject* target, QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up:
        move_current(-1);
        return true;
    case Qt::Key_Down:
        move_current(1);
        return true;
    case Qt::Key_PageUp:
        move_current(-kPageStep);
        return true;
    case Qt::Key_PageDown:
        move_current(kPageStep);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (QListWidgetItem* item = list_->currentItem())
            accept_index(item->data(Qt::UserRole).toInt());
        return true;
    case Qt::Key_Escape:
        reject();
        return true;
    default:
        break;
    }

    // Typing anywhere searches.
    const QString text = event->text();
    const bool printable = !text.isEmpty() && text.at(0).isPrint() &&
                           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (!printable || target == search_)
        return false;
    search_->setFocus(Qt::OtherFocusReason);
    QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text(), event->isAutoRepeat(),
                   ushort(event->count()));
    QApplication::sendEvent(search_, &copy);
    return true;
}

bool ProfilePopup::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        if (handle_key(watched, static_cast<QKeyEvent*>(event)))
            return true;
        break;
    case QEvent::MouseButtonPress:
        // A popup receives every press while it is open, also those outside it.
        if (watched == this && !rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
            reject();
            return true;
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}
