#pragma once
// The MCU lens models: one module creator each.

#include <stdint.h>

struct prodconf;
struct control;

void *prodconf_camblock_tamron_df010nl_create(struct prodconf *conf, struct control *engine,
                                              int32_t stream_id);
void *prodconf_camblock_tamron_df020nl_create(struct prodconf *conf, struct control *engine,
                                              int32_t stream_id);
void *prodconf_camblock_tamron_df024nl_create(struct prodconf *conf, struct control *engine,
                                              int32_t stream_id);
void *prodconf_camblock_tamron_de011n_create(struct prodconf *conf, struct control *engine,
                                             int32_t stream_id);
void *prodconf_camblock_tamron_df031n_create(struct prodconf *conf, struct control *engine,
                                             int32_t stream_id);
void *prodconf_camblock_tamron_df023q_create(struct prodconf *conf, struct control *engine,
                                             int32_t stream_id);
void *prodconf_camblock_cbc_r18_create(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *prodconf_camblock_ricom_af02812db_icr_create(struct prodconf *conf, struct control *engine,
                                                   int32_t stream_id);
void *prodconf_camblock_canon_c40x43_create(struct prodconf *conf, struct control *engine, int32_t stream_id);
void *prodconf_camblock_canon_c50x1485_create(struct prodconf *conf, struct control *engine,
                                              int32_t stream_id);
void *prodconf_camblock_cbc_tsf2_9z2813bhrw_f5_create(struct prodconf *conf, struct control *engine,
                                                      int32_t stream_id);
void *prodconf_camblock_tamron_df034n_create(struct prodconf *conf, struct control *engine,
                                             int32_t stream_id);
void *prodconf_camblock_unionoptech_t5285_create(struct prodconf *conf, struct control *engine,
                                                 int32_t stream_id);
void *prodconf_camblock_unionoptech_t5377q_create(struct prodconf *conf, struct control *engine,
                                                  int32_t stream_id);
void *prodconf_camblock_unionoptech_t5390_create(struct prodconf *conf, struct control *engine,
                                                 int32_t stream_id);
void *prodconf_camblock_evetar_e5350a_create(struct prodconf *conf, struct control *engine,
                                             int32_t stream_id);
void *prodconf_camblock_ytot_yt50011db_icr_create(struct prodconf *conf, struct control *engine,
                                                  int32_t stream_id);
void *prodconf_camblock_cbc_nsf2_3z5915bmrw_f5_create(struct prodconf *conf, struct control *engine,
                                                      int32_t stream_id);
