#include "dialogs.h"

#include "texts.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstring>

namespace carvix::dialog {
namespace {

QLabel* AddLabel(QVBoxLayout* layout, const QString& text, const QString& name) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setAccessibleName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    layout->addWidget(label);
    return label;
}

// OK (the default button, named `okText`) and Cancel; either may be left out.
QDialogButtonBox* AddButtons(QDialog* dialog, QVBoxLayout* layout, const QString& okText,
                             bool cancel, QPushButton** ok) {
    auto* box = new QDialogButtonBox;
    if (!okText.isEmpty()) {
        QPushButton* button = box->addButton(okText, QDialogButtonBox::AcceptRole);
        button->setAccessibleName(okText);
        button->setDefault(true);
        QObject::connect(button, &QPushButton::clicked, dialog, &QDialog::accept);
        if (ok != nullptr) {
            *ok = button;
        }
    }
    if (cancel) {
        QPushButton* button = box->addButton(texts::ButtonCancel(), QDialogButtonBox::RejectRole);
        button->setAccessibleName(texts::ButtonCancel());
        QObject::connect(button, &QPushButton::clicked, dialog, &QDialog::reject);
    }
    layout->addWidget(box);
    return box;
}

void Prepare(QDialog* dialog, const QString& title) {
    dialog->setWindowTitle(title);
    dialog->setAccessibleName(title);
    dialog->setModal(true);
    dialog->setMinimumWidth(420);
}

}  // namespace

ReaderDialog::ReaderDialog(const QString& heading, const QVector<ReaderItem>& readers) {
    Prepare(this, texts::ReaderTitle());
    auto* layout = new QVBoxLayout(this);
    const QString shown = heading.isEmpty() ? texts::ReaderDefaultHeading() : heading;
    heading_ = AddLabel(layout, shown, shown);
    waiting_ = AddLabel(layout, texts::ReaderWaiting(), texts::ReaderWaiting());
    list_ = new QListWidget;
    list_->setAccessibleName(texts::ReaderList());
    list_->setAccessibleDescription(texts::ReaderListDescription());
    heading_->setBuddy(list_);
    layout->addWidget(list_);
    AddButtons(this, layout, texts::ButtonUseReader(), true, &ok_);
    connect(list_, &QListWidget::itemActivated, this, [this] {
        if (Chosen() >= 0) {
            accept();
        }
    });
    connect(list_, &QListWidget::currentRowChanged, this, [this] { UpdateState(); });
    SetReaders(readers);
    list_->setFocus();
}

void ReaderDialog::SetReaders(const QVector<ReaderItem>& readers) {
    const int row = Chosen();
    const QString previous = row >= 0 ? readers_[row].name : QString();
    readers_ = readers;
    list_->clear();
    int keep = readers_.isEmpty() ? -1 : 0;
    for (int i = 0; i < readers_.size(); ++i) {
        list_->addItem(texts::ReaderEntry(readers_[i].name, texts::CardKinds(readers_[i].cards)));
        if (readers_[i].name == previous) {
            keep = i;
        }
    }
    list_->setCurrentRow(keep);
    UpdateState();
}

int ReaderDialog::Chosen() const {
    const int row = list_->currentRow();
    return row >= 0 && row < readers_.size() ? row : -1;
}

void ReaderDialog::UpdateState() {
    waiting_->setVisible(readers_.isEmpty());
    ok_->setEnabled(Chosen() >= 0);
}

CertificateDialog::CertificateDialog(const QString& heading, const QString& text,
                                     const QVector<CertificateItem>& certificates) {
    Prepare(this, texts::CertificateTitle());
    setMinimumWidth(760);
    auto* layout = new QVBoxLayout(this);
    const QString shown = heading.isEmpty() ? texts::CertificateDefaultHeading() : heading;
    QLabel* label = AddLabel(layout, shown, shown);
    if (!text.isEmpty()) {
        AddLabel(layout, text, text);
    }
    list_ = new QTreeWidget;
    list_->setAccessibleName(texts::CertificateList());
    list_->setAccessibleDescription(texts::CertificateListDescription());
    list_->setRootIsDecorated(false);
    list_->header()->setAccessibleName(texts::CertificateColumns());
    list_->setHeaderLabels({texts::ColumnSubject(), texts::ColumnIssuer(), texts::ColumnValidFrom(),
                            texts::ColumnValidUntil(), texts::ColumnKey()});
    label->setBuddy(list_);
    int initial = certificates.isEmpty() ? -1 : 0;
    for (int i = 0; i < certificates.size(); ++i) {
        const CertificateItem& c = certificates[i];
        const QString key = c.keyKind == QStringLiteral("token")  ? texts::KeyOnToken(c.keyStore)
                            : c.keyKind == QStringLiteral("file") ? texts::KeyInFile(c.keyStore)
                                                                  : texts::KeyUnknown();
        auto* item = new QTreeWidgetItem({c.subject, c.issuer, c.notBefore, c.notAfter, key});
        item->setToolTip(0, c.thumbprint);
        list_->addTopLevelItem(item);
        if (c.selected && initial == 0) {
            initial = i;
        }
    }
    for (int column = 0; column < 5; ++column) {
        list_->resizeColumnToContents(column);
    }
    layout->addWidget(list_);
    AddButtons(this, layout, texts::ButtonUseCertificate(), true, &ok_);
    connect(list_, &QTreeWidget::itemActivated, this, [this] {
        if (Chosen() >= 0) {
            accept();
        }
    });
    if (initial >= 0) {
        list_->setCurrentItem(list_->topLevelItem(initial));
    }
    ok_->setEnabled(initial >= 0);
    list_->setFocus();
}

int CertificateDialog::Chosen() const {
    QTreeWidgetItem* item = list_->currentItem();
    return item != nullptr ? list_->indexOfTopLevelItem(item) : -1;
}

PinDialog::PinDialog(const QString& token, const PinState& state) {
    Prepare(this, texts::PinTitle());
    auto* layout = new QVBoxLayout(this);
    if (state.locked) {
        const QString text = texts::PinLocked(token);
        AddLabel(layout, text, text);
        QPushButton* close = nullptr;
        AddButtons(this, layout, texts::ButtonClose(), false, &close);
        // Closing a notice of a locked PIN is no entry: it ends as a reject.
        disconnect(close, &QPushButton::clicked, this, &QDialog::accept);
        connect(close, &QPushButton::clicked, this, &QDialog::reject);
        close->setFocus();
        return;
    }
    const QString heading = texts::PinHeading(token);
    QLabel* label = AddLabel(layout, heading, heading);
    QStringList notes;
    if (state.wasWrong) {
        notes << texts::PinWasWrong();
    }
    if (state.finalTry) {
        notes << texts::PinFinalTry();
    } else if (state.countLow) {
        notes << texts::PinCountLow();
    }
    if (state.triesLeft >= 0) {
        notes << texts::PinTriesLeft(state.triesLeft);
    }
    if (!notes.isEmpty()) {
        const QString note = notes.join(u' ');
        AddLabel(layout, note, note);
    }
    pin_ = new QLineEdit;
    pin_->setEchoMode(QLineEdit::Password);
    pin_->setAttribute(Qt::WA_InputMethodEnabled, false);
    pin_->setContextMenuPolicy(Qt::NoContextMenu);  // no copying out of the field
    pin_->setAccessibleName(texts::PinField());
    pin_->setAccessibleDescription(texts::PinFieldDescription());
    label->setBuddy(pin_);
    layout->addWidget(pin_);
    AddButtons(this, layout, texts::ButtonOk(), true, nullptr);
    pin_->setFocus();
}

QByteArray PinDialog::TakePin() {
    if (pin_ == nullptr) {
        return {};
    }
    QString text = pin_->text();
    QByteArray pin = text.toUtf8();
    // Our copies are overwritten; the field is emptied.
    if (!text.isEmpty()) {
        std::memset(static_cast<void*>(text.data()), 0, static_cast<std::size_t>(text.size()) * 2);
    }
    pin_->clear();
    return pin;
}

PinPadDialog::PinPadDialog(const QString& token) {
    Prepare(this, texts::PinPadTitle());
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    const QString heading = texts::PinPadHeading(token);
    QLabel* label = AddLabel(layout, heading, heading);
    label->setFocusPolicy(Qt::StrongFocus);
    label->setFocus();
}

MessageDialog::MessageDialog(const QString& caption, const QString& text, unsigned styleBits) {
    Prepare(this, caption.isEmpty() ? texts::ProgramTitle() : caption);
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    QStyle::StandardPixmap icon = QStyle::SP_MessageBoxInformation;
    switch (styleBits & 0xF0u) {
        case 0x10:
            icon = QStyle::SP_MessageBoxCritical;
            break;
        case 0x20:
            icon = QStyle::SP_MessageBoxQuestion;
            break;
        case 0x30:
            icon = QStyle::SP_MessageBoxWarning;
            break;
        default:
            break;
    }
    auto* picture = new QLabel;
    picture->setPixmap(style()->standardIcon(icon).pixmap(32, 32));
    picture->setAccessibleName(windowTitle());
    row->addWidget(picture, 0, Qt::AlignTop);
    auto* message = new QLabel(text);
    message->setWordWrap(true);
    message->setAccessibleName(text.isEmpty() ? texts::NoticeText() : text);
    message->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    row->addWidget(message, 1);
    layout->addLayout(row);
    QPushButton* ok = nullptr;
    AddButtons(this, layout, texts::ButtonOk(), false, &ok);
    ok->setFocus();
}

}  // namespace carvix::dialog
