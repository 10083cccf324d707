// Puts the toolkit's beeps and boxes behind the dialog seam.
#pragma once

void installToolkitDialogs();
