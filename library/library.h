#pragma once
// The library: downloaded novels kept as folders of linked HTML pages under the library's Novel/
// folder (see core/folder_layout.h), made from the templates in Template/. The novel download job
// fills a contents page and one placeholder page per chapter, chapter tasks fetch the chapters into
// them, the on-demand fetch repairs a chapter from the reader, the bookshelf file BookShelf.xml
// lists the novels for the bookshelf tree, and ReadingSettings.xml keeps how the reader
// shows the pages. Everything reaches the window through the window port; names from sites are
// cleaned before they become file names, and no page, image or delete reaches outside Novel/.

#include "library/book_shelf_file.h"
#include "library/book_shelf_model.h"
#include "library/chapter_names.h"
#include "library/chapter_task.h"
#include "library/contents_page.h"
#include "library/library_layout.h"
#include "library/library_location.h"
#include "library/library_lock.h"
#include "library/novel_download_job.h"
#include "library/novel_index.h"
#include "library/novel_summary.h"
#include "library/on_demand_fetch.h"
#include "library/reader_place.h"
#include "library/reading_settings.h"
#include "library/resume_novels.h"
#include "library/shelf_settings.h"
#include "library/source_switch.h"
#include "library/update_all.h"
