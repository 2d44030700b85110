// STUB: to be replaced.
#pragma once
