# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright 2026 The Obrin developers
# Read by ctest before it runs the tests here: they inherit its environment.
foreach(variable http_proxy https_proxy HTTP_PROXY HTTPS_PROXY)
  set(ENV{${variable}} "http://127.0.0.1:9")
endforeach()
set(ENV{no_proxy} "127.0.0.1")
set(ENV{NO_PROXY} "127.0.0.1")
