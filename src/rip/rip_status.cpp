// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
#include "rip/rip_status.h"

SharedInt ripFinished{1};
