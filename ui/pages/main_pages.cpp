#include "ui/pages/main_pages.h"

#include "ui/pages/tab_adv_set.h"
#include "ui/pages/tab_ctrlr_setts.h"
#include "ui/pages/tab_dump.h"
#include "ui/pages/tab_ident.h"
#include "ui/pages/tab_noz_setts.h"
#include "ui/pages/tab_nozz_regs.h"
#include "ui/pages/tab_regs_sides.h"
#include "ui/pages/tab_temperature_tbl.h"

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
        {"TabAdvSet", "Доп настройки", true, Make<TabAdvSet>},
        {"TabNozzRegs", "Сост канала", false, Make<TabNozzRegs>},
        {"TabNozSetts", "Настройки канала", true, Make<TabNozSetts>},
        {"TabRegsSides", "Настройка стороны", true, Make<TabRegsSides>},
        {"TabTemperatureTbl", "Таблица температуры", true, Make<TabTemperatureTbl>},
        {"TabDump", "Dump", false, Make<TabDump>},
    };
    return pages;
}

} // namespace velmar::ui
