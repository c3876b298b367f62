	processor	12F508

	global	_main,start,_exit,reset_vec
	fnroot	_main
	psect	config,class=CONFIG,delta=2
	psect	idloc,class=IDLOC,delta=2
	psect	rbss_0,class=BANK0,space=1
	psect	rbss_1,class=BANK1,space=1
	psect	rbss_2,class=BANK2,space=1
	psect	rbss_3,class=BANK3,space=1
	psect	rdata_0,class=BANK0,space=1
	psect	rdata_1,class=BANK1,space=1
	psect	rdata_2,class=BANK2,space=1
	psect	rdata_3,class=BANK3,space=1
	psect	nvram,class=BANK0,space=1
	psect	nvram_1,class=BANK1,space=1
	psect	nvram_2,class=BANK2,space=1
	psect	nvram_3,class=BANK3,space=1
	psect	nvbit_0,class=BANK0,bit,space=1
	psect	nvbit_1,class=BANK1,bit,space=1
	psect	nvbit_2,class=BANK2,bit,space=1
	psect	nvbit_3,class=BANK3,bit,space=1
	psect	temp,ovrld,class=BANK0,space=1
	psect	struct,ovrld,class=BANK0,space=1
	psect	code,class=CODE,delta=2
	psect	rbit_0,class=BANK0,bit,space=1
	psect	ptbit_0,class=BANK0,bit,space=1
	psect	rbit_1,class=BANK1,bit,space=1
	psect	rbit_2,class=BANK2,bit,space=1
	psect	rbit_3,class=BANK3,bit,space=1
	psect	pstrings,class=CODE,delta=2
	psect	powerup,class=CODE,delta=2
	psect	reset_vec,class=CODE,delta=2
	psect	maintext,class=CODE,delta=2
	C	set	0
	Z	set	2
	PCL	set	2
	INDF	set	0

	psect	fnauto0,class=BANK0,space=1
	STATUS	equ	3
	FSR	equ	4
OSCCAL	equ	0x5

	psect	reset_wrap,class=CODE,delta=2
	psect	text,class=CODE,delta=2
	psect	init,class=CODE,delta=2
	psect	init23,class=CODE,delta=2
	psect	end_init,class=ENTRY,delta=2
	psect	clrtext,class=ENTRY,delta=2
	psect	jmp_tab,class=ENTRY,delta=2
	psect	float_text0,class=ENTRY,delta=2,size=512
	psect	float_text1,class=ENTRY,delta=2,size=512
	psect	float_text2,class=ENTRY,delta=2,size=512
	psect	float_text3,class=ENTRY,delta=2,size=512
	psect	float_text4,class=ENTRY,delta=2,size=512
	psect	idata12,class=ENTRY,delta=2
	psect	idata_0,class=CODE,delta=2
	psect	idata_1,class=CODE,delta=2
	psect	idata_2,class=CODE,delta=2
	psect	idata_3,class=CODE,delta=2
	psect	idata_4,class=CODE,delta=2
	psect	idata_5,class=CODE,delta=2
	psect	idata_6,class=CODE,delta=2
	psect	idata_7,class=CODE,delta=2
	psect	rbit_4,class=BANK4,bit,space=1
	psect	rbit_5,class=BANK5,bit,space=1
	psect	rbit_6,class=BANK6,bit,space=1
	psect	rbit_7,class=BANK7,bit,space=1
	psect	rbss_4,class=BANK4,space=1
	psect	rbss_5,class=BANK5,space=1
	psect	rbss_6,class=BANK6,space=1
	psect	rbss_7,class=BANK7,space=1
	psect	rdata_4,class=BANK4,space=1
	psect	rdata_5,class=BANK5,space=1
	psect	rdata_6,class=BANK6,space=1
	psect	rdata_7,class=BANK7,space=1
	psect	nvram_4,class=BANK4,space=1
	psect	nvram_5,class=BANK5,space=1
	psect	nvram_6,class=BANK6,space=1
	psect	nvram_7,class=BANK7,space=1
	psect	nvbit_4,class=BANK4,bit,space=1
	psect	nvbit_5,class=BANK5,bit,space=1
	psect	nvbit_6,class=BANK6,bit,space=1
	psect	nvbit_7,class=BANK7,bit,space=1
	psect	strings12,class=ENTRY,delta=2,reloc=512
	psect	reset_vec,class=CODE,delta=2
reset_vec:
	movlw 034h	;user defined oscillator calibration value
	psect	reset_wrap
reset_wrap:
	nop	; NOP inserted due to debugger requirements

	movwf	5		;calibrate oscillator
	clrf FSR
	; No powerup routine
	; No interrupt routine


	psect	init
start
_exit
btemp	equ	0x1C		;temporary memory only used by the following
INDF	set	0
PC	set	2
global btemp, __Lramdata, __Lidata12, __Hramdata
movlw	low(__Lramdata)
movwf	FSR
movlw	high(__Lidata12)
movwf	btemp
movlw	low(__Lidata12)
movwf	btemp+1
copyloop:
fcall fetch
movwf	INDF
incf	FSR,f
movf	FSR,w
xorlw	low(__Hramdata)
btfsc	STATUS,2
goto	done_copy
incf	btemp+1,f
btfsc	STATUS,2
incf	btemp,f
goto copyloop
fetch:
movf	btemp+1,w
movwf	PC
done_copy:

;-------------------------------------------------------------------------------
;		Clear (zero) uninitialized global variables

;	5 bytes of RAM objects in bank 0 to zero

	psect	init
	global	__Lrbss_0
;	Sequence of clrf's more optimal than using clear routine
	clrf	(__Lrbss_0+0)^0x0		;clear byte at RAM address 0x7
	clrf	(__Lrbss_0+1)^0x0		;clear byte at RAM address 0x8
	clrf	(__Lrbss_0+2)^0x0		;clear byte at RAM address 0x9
	clrf	(__Lrbss_0+3)^0x0		;clear byte at RAM address 0xA
	clrf	(__Lrbss_0+4)^0x0		;clear byte at RAM address 0xB

;	No RAM objects to clear in bank 1
;	No RAM objects to clear in bank 2
;	No RAM objects to clear in bank 3

;-------------------------------------------------------------------------------
	psect	end_init
	ljmp _main
	end	start
