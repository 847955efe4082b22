// Every block model of the card layer.
#pragma once

#include "carvix/blocks/card_document_model.h"
#include "carvix/blocks/vl_models.h"
#include "carvix/blocks/zk_models.h"
