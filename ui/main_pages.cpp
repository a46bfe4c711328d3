#include "ui/main_pages.h"

#include "ui/placeholder_page.h"
#include "ui/tab_ctrlr_setts.h"
#include "ui/tab_ident.h"
#include "ui/tab_noz_setts.h"
#include "ui/tab_nozz_regs.h"

namespace velmar::ui {

namespace {

template <class P> Page* Make(Session& session, QWidget* parent) {
    return new P(session, parent);
}

} // namespace

const std::vector<PageEntry>& MainPages() {
    static const std::vector<PageEntry> pages = {
        {"TabIdent", "Основное меню", true, Make<TabIdent>},
        {"TabCtrlrSetts", "Настройки контроллера", true, Make<TabCtrlrSetts>},
        {"TabAdvSet", "Доп настройки", true, Make<PlaceholderPage>},
        {"TabNozzRegs", "Сост канала", false, Make<TabNozzRegs>},
        {"TabNozSetts", "Настройки канала", true, Make<TabNozSetts>},
        {"TabRegsSides", "Настройка стороны", true, Make<PlaceholderPage>},
        {"TabTemperatureTbl", "Таблица температуры", true, Make<PlaceholderPage>},
        {"TabDump", "Dump", false, Make<PlaceholderPage>},
    };
    return pages;
}

} // namespace velmar::ui
