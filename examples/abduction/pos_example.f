grandfather(arthur,diana).
grandfather(edward,helen).
grandfather(ivan,liam).
grandfather(martin,peter).
grandfather(quentin,samuel).
