#pragma once

// Shows QFAlert messages as window-modal message boxes. Call once at start in programs with windows.

void qfInstallWidgetAlerts();
