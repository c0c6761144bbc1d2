#pragma once

#include <PellwickApp/Views/Kit/PageBackground.h>

#include <functional>

namespace Pellwick {

/// What the New import page's four buttons do; the shell supplies them.
struct NewImportActions
{
    std::function<void()> scanRemovableMedia;
    std::function<void()> scanAllConnectedMedia;
    std::function<void()> chooseFolder;
    std::function<void()> cancel;
};

/// The New import page ("page.newImport"): the header "Add to Ingest Cache" with "Cancel", and
/// the card "Select Import Source" with "Scan Removable Media", "Scan All Connected Media" and
/// "Choose Folder". Holds no state and shows no progress; no button is ever disabled. Main
/// thread only.
class NewImportView final : public PageBackground
{
    Q_OBJECT

public:
    explicit NewImportView(NewImportActions actions, QWidget *parent = nullptr);

private:
    NewImportActions m_actions;
};

} // namespace Pellwick
