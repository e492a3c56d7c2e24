#pragma once
// The desktop shell: the application object, the main window with its three layouts (the
// recommendation pages, the search results, the reader), and the browser panel that shows every
// page and turns its "app:" links into commands. The shell only shows things and forwards
// commands; the work is done by the jobs behind the window port.

#include "app/command_ids.h"
#include "app/dlg_html.h"
#include "app/dlg_target_set.h"
#include "app/html_ctrl.h"
#include "app/list_ctrl_search_result.h"
#include "app/main_window.h"
#include "app/my_app.h"
#include "app/tree_ctrl_book_shelf.h"
