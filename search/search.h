#pragma once
// Search: the choice of target sites and the search job that asks every chosen site at once.
// The job reaches the window only through the window port.

#include "search/search_job.h"
#include "search/site_selection.h"
#include "search/target_site_select_model.h"
