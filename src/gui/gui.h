// The whole kit, for code written against the platform's Interface Kit.
#pragma once

#include "gui/alert.h"
#include "gui/application.h"
#include "gui/controls.h"
#include "gui/font.h"
#include "gui/geometry.h"
#include "gui/list_view.h"
#include "gui/looper.h"
#include "gui/message.h"
#include "gui/text_view.h"
#include "gui/view.h"
#include "gui/window.h"
