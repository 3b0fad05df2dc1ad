#pragma once
// lkconfig's options dialog: one field per connector setting.
#include <QDialog>
#include <QLineEdit>
#include <vector>

#include "lklib/lk_settings.h"

namespace kvt::lk {

class SettingsDialog : public QDialog {
  public:
    explicit SettingsDialog(QWidget* parent = nullptr);

  protected:
    void accept() override;

  private:
    struct Field {
        const SettingInfo* setting;
        QLineEdit* edit;
    };
    void load();
    std::vector<Field> fields_;
};

}  // namespace kvt::lk
