#pragma once

// The whole file layer at once, for callers that read and write.
#include "util/AtomicWrite.h"
#include "util/FileRead.h"
#include "util/FolderListing.h"
