#include "lklib/lkconfig_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>

#include "common/reg_file.h"
#include "common/registry_store.h"
#include "lklib/lk_settings_store.h"

namespace kvt::lk {

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Opzioni del connettore LK"));
    auto* layout = new QVBoxLayout(this);
    // A fixed-size dialog, as the program's windows.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* form = new QFormLayout;
    for (const SettingInfo& setting : settingTable()) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromUtf8(setting.name.data(), int(setting.name.size())));
        // Room for a URL or a path: the dialog does not grow.
        edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 40);
        QWidget* row = edit;
        switch (setting.kind) {
            case SettingKind::Milliseconds:
                edit->setValidator(new QIntValidator(1, 0x7fffffff, edit));
                edit->setPlaceholderText(QString::number(setting.defaultValue));
                break;
            case SettingKind::Secret:
                edit->setEchoMode(QLineEdit::Password);
                break;
            case SettingKind::Text:
                edit->setPlaceholderText(QStringLiteral("https://raccolta.example.org/lk"));
                break;
            case SettingKind::ProxyUrl:
                edit->setPlaceholderText(QStringLiteral("http://proxy:3128 (vuoto: nessuno)"));
                break;
            case SettingKind::Path: {
                row = new QWidget(this);
                auto* line = new QHBoxLayout(row);
                line->setContentsMargins(0, 0, 0, 0);
                line->addWidget(edit);
                auto* browse = new QPushButton(QStringLiteral("Sfoglia..."), row);
                line->addWidget(browse);
                const bool forLog = setting.name == "LogFilename";
                connect(browse, &QPushButton::clicked, this, [this, edit, forLog] {
                    const QString chosen =
                        forLog ? QFileDialog::getSaveFileName(this, QStringLiteral("File di log"),
                                                              edit->text())
                               : QFileDialog::getOpenFileName(
                                     this, QStringLiteral("Certificati di fiducia"), edit->text(),
                                     QStringLiteral("Certificati PEM (*.pem *.crt);;Tutti (*)"));
                    if (!chosen.isEmpty()) {
                        edit->setText(chosen);
                    }
                });
                break;
            }
        }
        auto* label =
            new QLabel(QString::fromUtf8(setting.label.data(), int(setting.label.size())), this);
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
        form->addRow(label, row);
        fields_.push_back({&setting, edit});
    }
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Salva"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Annulla"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    load();
}

void SettingsDialog::load() {
    const registry::RegFile file = registry::RegFile::load(registry::storePath());
    for (const Field& field : fields_) {
        field.edit->setText(QString::fromStdString(currentValue(file, *field.setting)));
    }
}

void SettingsDialog::accept() {
    const auto path = registry::storePath();
    // Read afresh: other keys of the file may have changed while the dialog was open.
    registry::RegFile file = registry::RegFile::load(path);
    for (const Field& field : fields_) {
        const std::string value = field.edit->text().trimmed().toStdString();
        if (const std::string reason = applySetting(file, *field.setting, value); !reason.empty()) {
            QMessageBox::warning(this, windowTitle(), QString::fromStdString(reason));
            field.edit->setFocus();
            return;
        }
    }
    try {
        file.saveAtomically(path);
    } catch (const std::exception& e) {
        QMessageBox::critical(
            this, windowTitle(),
            QStringLiteral("Impostazioni non salvate: ") + QString::fromStdString(e.what()));
        return;
    }
    QDialog::accept();
}

}  // namespace kvt::lk
