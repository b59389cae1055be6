/* ResetMacro 1 as include */

#define RESETMACRO_1_LEN  16

unsigned char RESETMACRO_1[RESETMACRO_1_LEN] =
{
   27, 68, 76, 27, 90, 76, 10,  0, 10,  0, 82,101,115,101,116,  0
};
