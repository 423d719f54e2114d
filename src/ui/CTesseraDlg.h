// placeholder until the dialog is written
#pragma once
